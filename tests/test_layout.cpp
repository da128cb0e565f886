// The layout: laid-out formulas as the user sees them, for a text editor (every character one
// space wide, two spaces after a level's parenthesis) and for the cell (widths from a small fake
// font table, seven spaces), failures, and the fast layout against a literal rebuild over the
// corpus and random formulas, with its promises and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "base/platform.h"
#include "formatting/layout.h"
#include "formatting/lexer.h"
#include "formatting/unformat.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

constexpr char16_t kEuro = 0x20AC;

enum class Mode { Notepad, Cell };

// Notepad: every width 1, two spaces after a level's parenthesis. Cell: a fake font where "W" is
// three spaces wide and "i" half a space, everything else one, written as the store writes them.
void Configure(cls_corvane& a, Mode mode, bool formatAllParens) {
  for (std::int32_t k = 2; k <= 767; ++k) a.SpacingArray.at(k) = Variant(std::int32_t{1});
  a.strListSeparator.assign(1, u',');
  a.bFormatAllParens = formatAllParens;
  a.bSendToNotepad = mode == Mode::Notepad;
  a.strAfterParen.assign(mode == Mode::Notepad ? 2 : 7, u' ');
  if (mode == Mode::Cell) {
    a.SpacingArray.at(u'W') = Variant(u"3");
    a.SpacingArray.at(u'i') = Variant(u"0.5");
  }
}

void Scan(cls_corvane& a, std::u16string_view formula) {
  a.strFormula = formula;
  a.iLenFormula = static_cast<std::int32_t>(formula.size());
  Variant text(a.strFormula);
  Variant length(a.iLenFormula);
  a.strCharArray = a.PopulateCharArray(text, length).table();
}

std::u16string Laid(cls_corvane& a, std::u16string_view formula) {
  Scan(a, formula);
  return a.LayoutFormula();
}

// The result of a layout, or the number of the error it failed with.
template <typename F>
std::u16string Outcome(F&& layout) {
  try {
    return layout();
  } catch (const AutomationError& e) {
    return u"<error " + Ascii16(std::to_string(e.number())) + u">";
  }
}

// Each line as its number of leading spaces, a colon and the rest: "6: A1,".
std::string Render(std::u16string_view text) {
  std::string out;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(u'\n', start);
    const std::u16string_view line = text.substr(start, end == std::u16string_view::npos ? end : end - start);
    std::size_t k = 0;
    while (k < line.size() && line[k] == u' ') ++k;
    out += std::to_string(k) + ":";
    if (k < line.size()) out += " " + Utf16ToUtf8(line.substr(k));
    if (end == std::u16string_view::npos) return out;
    out += "\n";
    start = end + 1;
  }
}

// ---- Laid out as the user sees it (tests/golden/layout.txt) ----

TEST(Layout, AsTheUserSeesIt) {
  const std::vector<corpus::Golden> goldens = corpus::LoadGolden("layout.txt");
  ASSERT_GE(goldens.size(), 30U);
  for (const corpus::Golden& g : goldens) {
    const std::size_t modeEnd = g.header.find(' ');
    std::size_t optionsEnd = g.header.find(' ', modeEnd + 1);
    // An optional fit width before the formula.
    const std::size_t widthEnd = g.header.find(' ', optionsEnd + 1);
    const int fitWidth = g.header[optionsEnd + 1] == '=' ? 0 : std::stoi(g.header.substr(optionsEnd + 1, widthEnd - optionsEnd - 1));
    const std::string mode = g.header.substr(0, modeEnd), options = g.header.substr(modeEnd + 1, optionsEnd - modeEnd - 1);
    ASSERT_TRUE((mode == "editor" || mode == "cell") && (options == "off" || options == "on" || options == "both")) << g.header;
    for (const bool allParens : {false, true}) {
      if (options != "both" && options != (allParens ? "on" : "off")) continue;
      SCOPED_TRACE(g.header + (allParens ? ", all parens" : ""));
      cls_corvane a;
      Configure(a, mode == "cell" ? Mode::Cell : Mode::Notepad, allParens);
      a.iFitWidth = fitWidth;
      EXPECT_EQ(Render(Laid(a, Ascii16(g.header.substr(fitWidth > 0 ? widthEnd + 1 : optionsEnd + 1)))), g.lines);
    }
  }
}

TEST(Layout, FailuresAndTheParenthesisWidth) {
  for (const Mode mode : {Mode::Notepad, Mode::Cell}) {
    for (const char16_t* formula : {u"=A1)", u"=)", u"=SUM(A1))", u"=(A1))+(B1", u"=NOW())"}) {
      SCOPED_TRACE(Utf16ToUtf8(formula));
      cls_corvane a;
      Configure(a, mode, false);
      EXPECT_EQ(Outcome([&] { return Laid(a, formula); }), u"<error 9>") << "a \")\" with nothing to close";
    }
  }
  cls_corvane a;
  Configure(a, Mode::Notepad, false);
  Scan(a, u"=SUM(1)");
  a.iLenFormula = 8;
  EXPECT_EQ(Outcome([&] { return a.LayoutFormula(); }), u"<error 9>") << "a table shorter than the formula";
  // The level is 6 wide; its close takes off 0.5 + 2, leaving 3.5, which rounds to 4.
  a.SpacingArray.at(40) = Variant(u"0.5");
  EXPECT_EQ(Render(Laid(a, u"=IF(A1)")), "0: =IF(\n6: A1\n4: )\n4:");
  Configure(a, Mode::Cell, false);
  a.SpacingArray.at(40) = Variant(u"Not Found");
  EXPECT_EQ(Outcome([&] { return Laid(a, u"=NOW()+(1)"); }), u"=NOW()\n+(1)") << "no level closes here";
  EXPECT_EQ(Outcome([&] { return Laid(a, u"=SUM(1)"); }), u"<error 13>");

  const auto trimmed = [&](Variant v) { return Utf16ToUtf8(a.RemoveSpacesInLastLine(v)); };
  EXPECT_EQ(trimmed(Variant(u"=SUM(\n  A1\n    ")), "=SUM(\n  A1\n");
  EXPECT_EQ(trimmed(Variant(u"   ")), "");
  EXPECT_EQ(trimmed(Variant(u" A \u00A0\t ")), " A \u00A0\t") << "only code 32 goes";
  EXPECT_EQ(trimmed(Variant(std::int32_t{12})), "12");
}

// Without the add-in: the caller's measure gets the whole line of a special character through
// the room after "("; without a measure the sum ends there.
TEST(Layout, IsAFunctionOfTheFormulaTheOptionsAndTheWidths) {
  VariantArray spacing(2, 767);
  for (std::int32_t k = 2; k <= 767; ++k) spacing.at(k) = Variant(std::int32_t{1});
  spacing.at(u'W') = Variant(u"3");
  const spacing::Widths widths(spacing, RegionalFormat{});
  std::vector<std::u16string> measured;
  layout::Options options;
  options.listSeparator = u",";
  options.afterParen = u"       ";
  options.specialLine = [&](std::u16string_view line) {
    measured.emplace_back(line);
    return 12.0;
  };
  const std::u16string formula{u'=', u'W', u'(', u'1', u',', kEuro, u'(', u'2', u')', u')'};
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)), "0: =W(\n12: 1,\n12: \xE2\x82\xAC(\n24: 2\n16: )\n4: )\n4:");
  EXPECT_EQ(measured, (std::vector<std::u16string>{{kEuro, u'(', u' ', u' ', u' ', u' ', u' ', u' ', u' '}}));
  options.specialLine = nullptr;
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)), "0: =W(\n12: 1,\n12: \xE2\x82\xAC(\n12: 2\n4: )\n4: )\n4:");
  options.destination = layout::Destination::TextFile;
  options.afterParen = u"  ";
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)), "0: =W(\n5: 1,\n5: \xE2\x82\xAC(\n9: 2\n6: )\n2: )\n2:");
}

// ---- The literal layout: rebuilt through the object's public methods ----

bool IsOperatorChar(char16_t c, bool arithmeticOnly) {
  return std::u16string_view(arithmeticOnly ? u"+-*/^" : u"+-*/^<>=").find(c) != std::u16string_view::npos;
}

std::u16string Spaces(std::int32_t count) {
  if (count < 0) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return std::u16string(static_cast<std::size_t>(count), u' ');
}

// Where the layout departs from the literal rebuild, a formula's comparison is left out: an
// inline ")" that begins a line (it goes under its "(" measured with the line's indentation), a
// "(" right after a level's ")" (it stays on that line), an intersection right after a ")" (it
// stays on that line), an array constant (never broken).
std::u16string ReferenceLayout(cls_corvane& a, bool& departs) {
  const RegionalFormat& fmt = Regional();
  const std::u16string_view formula = std::u16string_view(a.strFormula).substr(0, static_cast<std::size_t>(a.iLenFormula));
  std::vector<bool> inName;
  departs = false;
  for (const lex::Span& s : lex::Lex(formula, a.strListSeparator)) {
    inName.insert(inName.end(), s.end - s.begin, lex::IsName(s.kind));
    departs = departs || s.kind == lex::Kind::ArrayOpen;
  }
  Variant levels(VariantArray(1, static_cast<std::int32_t>(std::count(formula.begin(), formula.end(), u'('))));
  VariantArray stack(0, 0);
  std::int32_t top = 0, level = 0, openInline = 0;
  std::u16string formatted, lineText, indent;
  bool afterRight = false, afterEmpty = false, afterInline = false, afterArith = false, operandStart = false;
  const auto width = [&](const std::u16string& s) {
    Variant v(s);
    return a.GetSpacingThisLevel(v);
  };
  const auto indentCount = [&] { return a.GetIndentSpacesCount(level, levels); };
  // Back to the output before the ")" just laid out, and that ")" on its line.
  const auto rebuild = [&] { formatted.resize(std::min(formatted.size(), formatted.rfind(u'\n'))); };

  for (std::int32_t i = 1; i <= a.iLenFormula; ++i) {
    const auto at = static_cast<std::size_t>(i) - 1;
    const char16_t c = formula[at];
    const bool syntax = !inName[at];
    const bool separator = syntax && std::u16string_view(&formula[at], 1) == a.strListSeparator;
    const bool left = syntax && !separator && c == u'(';
    const bool right = syntax && !separator && c == u')';
    const bool empty = (left && at + 1 < formula.size() && formula[at + 1] == u')') || (right && at > 0 && formula[at - 1] == u'(');
    const bool closedLevel = afterRight && !afterEmpty && !afterInline;

    if (separator) {
      indent = Spaces(indentCount());
      if (closedLevel) rebuild();
      formatted += c + (u"\n" + indent);
      lineText.clear();
      afterRight = afterArith = afterEmpty = false;
      operandStart = true;
    } else if (left) {
      departs = departs || closedLevel;
      stack.redimPreserve(++top);
      stack.at(top) = Variant(u"N");
      formatted += c;
      if ((afterArith || openInline > 0) && !operandStart) {
        stack.at(top) = Variant(width(lineText));
        lineText += c;
        ++openInline;
      } else if (empty) {
        lineText += c;
      } else {
        lineText = lineText + c + a.strAfterParen;
        ++level;
        levels.array().at(level) = Variant(width(lineText));
        indent = Spaces(indentCount());
        formatted += u"\n" + indent;
        lineText.clear();
      }
      afterRight = afterArith = afterEmpty = false;
      operandStart = true;
    } else if (right) {
      if (empty) {
        formatted += c;
        lineText += c;
        if (stack.at(top).type() == Variant::Type::Double) --openInline;
        afterEmpty = true;
      } else if (!(stack.at(top) == Variant(u"N"))) {
        Variant v(formatted);
        formatted = a.RemoveSpacesInLastLine(v);
        departs = departs || (!formatted.empty() && formatted.back() == u'\n');
        formatted += c;
        lineText += c;
        --openInline;
        afterInline = true;
        afterEmpty = false;
      } else {
        Variant& element = levels.array().at(level);
        element = Variant(ToDouble(element, fmt) -
                          (ToDouble(std::as_const(a.SpacingArray).at(40), fmt) + static_cast<double>(a.strAfterParen.size())));
        indent = Spaces(indentCount());
        if (closedLevel) rebuild();
        formatted += u"\n" + indent + c + u"\n" + indent;
        --level;
        lineText.clear();
        afterInline = afterEmpty = false;
      }
      afterRight = true;
      afterArith = operandStart = false;
      if (--top < 0) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
      stack.redimPreserve(top);
    } else {
      if (afterRight) {
        if (c == u' ' && (closedLevel || afterEmpty)) {
          std::size_t end = static_cast<std::size_t>(i);
          while (end < formula.size() && formula[end] == u' ') ++end;
          departs = departs || lex::IsIntersection(formula, static_cast<std::size_t>(i) - 1, end);
        }
        indent = Spaces(indentCount());
        if (afterEmpty) {
          formatted += u"\n" + indent + c;
          lineText.clear();
        } else if (afterInline) {
          formatted += c;
        } else {
          rebuild();
          formatted += u"\n" + indent + c;
        }
      } else {
        formatted += c;
      }
      lineText += c;
      afterRight = afterEmpty = false;
      if (!a.bFormatAllParens) afterArith = IsOperatorChar(c, true);
    }
    if (operandStart && !separator && IsOperatorChar(c, false)) operandStart = false;
  }
  return formatted;
}

// What a laid-out text breaks of the layout's promises, empty if nothing: each ")" that begins a
// line stands in the column of its "(", and every other line inside a level starts at the
// level's indentation, the column of its "(" and the room after it. Columns count code units for
// the text file and sum the widths for the cell, where each line may be up to one space off by
// the rounding of its indentation.
std::string BrokenPromise(std::u16string_view laid, const spacing::Widths* widths, std::size_t afterParen) {
  std::vector<lex::Kind> kinds(laid.size());
  for (const lex::Span& s : lex::Lex(laid, u",")) std::fill(kinds.begin() + s.begin, kinds.begin() + s.end, s.kind);
  const auto width = [&](char16_t c) { return widths == nullptr ? 1.0 : widths->At(c); };
  const double tolerance = widths == nullptr ? 0.0 : 1.0;
  std::vector<std::pair<double, bool>> open;  // column, and whether it opens a level
  double column = 0.0;
  bool lineStart = true;
  int line = 1;
  for (std::size_t i = 0; i < laid.size(); ++i) {
    const char16_t c = laid[i];
    if (c == u'\n' && kinds[i] == lex::Kind::Whitespace) {
      column = 0.0;
      lineStart = true;
      ++line;
      continue;
    }
    if (lineStart && c != u' ') {
      lineStart = false;
      double wanted = 0.0;
      if (kinds[i] == lex::Kind::CloseParen) {
        wanted = open.empty() ? column : open.back().first;
      } else {
        const auto level = std::find_if(open.rbegin(), open.rend(), [](const auto& o) { return o.second; });
        if (level != open.rend()) wanted = level->first + width(u'(') + static_cast<double>(afterParen) * width(u' ');
      }
      if (std::abs(column - wanted) > tolerance + 1e-9)
        return "line " + std::to_string(line) + " starts at " + std::to_string(column) + ", not " + std::to_string(wanted);
    }
    if (kinds[i] == lex::Kind::OpenParen) open.emplace_back(column, i + 1 < laid.size() && laid[i + 1] == u'\n');
    if (kinds[i] == lex::Kind::CloseParen && !open.empty()) open.pop_back();
    column += width(c);
  }
  return {};
}

struct Config {
  const char* name;
  Mode mode;
  bool allParens;
  bool gaps;  // some widths "Not Found", as after a cancelled calibration
  std::int32_t fitWidth = 0;
};

const Config kConfigs[] = {
    {"editor, option off", Mode::Notepad, false, false},
    {"editor, option on", Mode::Notepad, true, false},
    {"cell, option off", Mode::Cell, false, false},
    {"cell, option on", Mode::Cell, true, false},
    {"cell with gaps, option off", Mode::Cell, false, true},
    {"editor, fit 40", Mode::Notepad, false, false, 40},
    {"editor, fit 80", Mode::Notepad, false, false, 80},
    {"editor, option on, fit 120", Mode::Notepad, true, false, 120},
    {"cell, fit 60", Mode::Cell, false, false, 60},
};

// What a fitted layout breaks of its promises beyond BrokenPromise's, empty if nothing: a line
// wider than `limit` that is more than one line of the unfitted layout (`pieces`: its lines
// without their indentation), and a formula that fits whole but was broken.
std::string UnfitLine(std::u16string_view laid, std::u16string_view flat, const std::u16string& unfitted,
                      const spacing::Widths* widths, double limit) {
  const auto width = [&](std::u16string_view line) {
    double sum = 0.0;
    for (const char16_t c : line) sum += widths == nullptr ? 1.0 : widths->At(c);
    return sum;
  };
  // A whole fit needs every parenthesis to have its partner, and no separator outside them.
  std::int32_t depth = 0;
  for (const lex::Span& s : lex::Lex(flat, u","))
    if (depth >= 0 && (s.kind == lex::Kind::OpenParen || s.kind == lex::Kind::CloseParen || s.kind == lex::Kind::Separator))
      depth += s.kind == lex::Kind::OpenParen ? 1 : s.kind == lex::Kind::CloseParen ? -1 : depth == 0 ? -1 : 0;
  if (depth == 0 && width(flat) <= limit && laid != flat) return "it fits whole but was broken";
  std::vector<std::u16string_view> pieces;
  for (std::size_t start = 0, end = 0; end != std::u16string::npos; start = end + 1) {
    end = unfitted.find(u'\n', start);
    const std::u16string_view line = std::u16string_view(unfitted).substr(start, end - start);
    pieces.push_back(line.substr(std::min(line.find_first_not_of(u' '), line.size())));
  }
  for (std::size_t start = 0, end = 0, number = 1; end != std::u16string::npos; start = end + 1, ++number) {
    end = laid.find(u'\n', start);
    const std::u16string_view line = laid.substr(start, end - start);
    const std::u16string_view text = line.substr(std::min(line.find_first_not_of(u' '), line.size()));
    if (width(line) > limit + 1e-6 && std::find(pieces.begin(), pieces.end(), text) == pieces.end())
      return "line " + std::to_string(number) + " is wider than " + std::to_string(limit);
  }
  return {};
}

// The host and store that special characters are measured with.
class LayoutAgainstReference : public ::testing::Test {
 protected:
  LayoutAgainstReference() : scoped_([this] {
    PlatformServices s;
    s.store = &store_;
    s.textMeasurer = &measurer_;
    return s;
  }()) {
    ObjectRef ref = app_;
    addin_.SetExcelApp(ref);
  }

  // Widths as a calibration with the fixed measurer leaves them, so that the cell layout meets
  // fractional widths; "gaps" leaves a few codes uncalibrated.
  void ConfigureFor(const Config& config) {
    Configure(addin_, config.mode, config.allParens);
    addin_.iFitWidth = config.fitWidth;
    if (config.mode != Mode::Cell) return;
    for (std::int32_t k = 2; k <= 767; ++k) {
      const double ratio = memory::FixedMeasurer::BaseWidth(static_cast<char16_t>(k)) / 3.0;
      addin_.SpacingArray.at(k) = Variant(calibration::RatioText(ratio, Regional()));
    }
    if (config.gaps)
      for (const char16_t c : {u'B', u'$', u'"', u'7'}) addin_.SpacingArray.at(c) = Variant(u"Not Found");
  }

  // Every formula in every configuration: the layout is the literal rebuild's (unless it meets a
  // departure). Without gaps, the formula as unformat leaves it is laid out too: the layout keeps
  // its promises, unformats back to it (no line break inside a name, no intersection lost), and
  // laying out the laid-out text gives the same text. Returns how many were laid out.
  int CheckAll(const std::vector<corpus::Formula>& formulas, bool mayFail) {
    int failures = 0, laidOut = 0;
    for (const Config& config : kConfigs) {
      SCOPED_TRACE(config.name);
      ConfigureFor(config);
      const auto widths = config.mode == Mode::Cell ? std::make_shared<spacing::Widths>(addin_.SpacingArray, Regional()) : nullptr;
      const auto fail = [&](const corpus::Formula& f, const std::string& what, std::u16string_view laid) {
        if (failures++ < 5)
          ADD_FAILURE() << f.source << " (" << config.name << "): " << what << "\n" << Utf16ToUtf8(f.text) << "\nlaid out:\n"
                        << Utf16ToUtf8(laid);
      };
      for (const auto& f : formulas) {
        Scan(addin_, f.text);
        const std::u16string actual = Outcome([&] { return addin_.LayoutFormula(); });
        bool departs = false;
        const std::u16string reference = config.fitWidth > 0 ? actual : Outcome([&] { return ReferenceLayout(addin_, departs); });
        if (actual != reference && !departs) fail(f, "the reference gives\n" + Utf16ToUtf8(reference), actual);
        if (config.gaps) continue;

        const std::u16string flat = Unformat(f.text);
        const std::u16string laid = flat == f.text ? actual : Outcome([&] { return Laid(addin_, flat); });
        const bool special = std::any_of(flat.begin(), flat.end(), [](char16_t c) { return c >= spacing::kFirstSpecialCode; });
        if (config.fitWidth > 0 && !laid.starts_with(u"<error") && !special) {
          addin_.iFitWidth = 0;
          const std::u16string unfitted = Laid(addin_, flat);
          addin_.iFitWidth = config.fitWidth;
          const double limit = config.fitWidth * (widths ? widths->At(u'0') : 1.0);
          if (const std::string unfit = UnfitLine(laid, flat, unfitted, widths.get(), limit); !unfit.empty()) fail(f, unfit, laid);
        }
        if (laid.starts_with(u"<error")) {
          if (!mayFail) fail(f, Utf16ToUtf8(laid), u"");
          continue;
        }
        ++laidOut;
        if (!special)
          if (const std::string broken = BrokenPromise(laid, widths.get(), addin_.strAfterParen.size()); !broken.empty())
            fail(f, broken, laid);
        if (const std::u16string back = Unformat(laid); back != flat) fail(f, "unformats to " + Utf16ToUtf8(back), laid);
        Scan(addin_, RemoveLineBreaks(laid));
        if (Outcome([&] { return addin_.LayoutFormula(); }) != laid) fail(f, "laid out again it changes", laid);
      }
    }
    EXPECT_EQ(failures, 0);
    return laidOut;
  }

  MemoryStore store_;
  memory::FixedMeasurer measurer_;
  ScopedServices scoped_;
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&measurer_);
  cls_corvane addin_;
};

// The store gives a special character's width; nothing is measured in a new workbook.
TEST_F(LayoutAgainstReference, SpecialCharactersAreMeasuredThroughTheStore) {
  Configure(addin_, Mode::Cell, false);
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Calibri"), DecimalKey(kEuro), u"2");
  EXPECT_EQ(Render(Laid(addin_, std::u16string{u'=', kEuro, u'(', u'1', u')'})), "0: =\xE2\x82\xAC(\n11: 1\n3: )\n3:");
  EXPECT_EQ(app_->WorkbooksAdded(), 0);
}

TEST_F(LayoutAgainstReference, Corpus) {
  const std::vector<corpus::Formula> formulas = corpus::Sample();
  ASSERT_GT(formulas.size() * corpus::kStride, 39000u);
  CheckAll(formulas, false);
  RecordProperty("formulas", static_cast<int>(formulas.size()));
}

// Shapes the corpus holds rarely: long runs of closing parentheses, deep nesting, unbalanced
// parentheses, inline groups in inline groups, special characters, names with parentheses,
// array constants, intersections.
TEST_F(LayoutAgainstReference, RandomFormulas) {
  static const std::u16string pieces[] = {u"(",  u"(",  u")",     u")",     u")", u",",  u"+", u"*", u"-",
                                          u"A1", u"SUM(", u"NOW()", u" ",     u"\"", u"'", u"[", u"]", u"=",
                                          u"<",  u"x",  std::u16string(1, kEuro), u"i", u"W", u"((", u"{1,2}", u" A1"};
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(1, 60);
  std::vector<corpus::Formula> formulas;
  for (std::size_t n = 0; n < 3000 / corpus::kStride; ++n) {
    corpus::Formula f{u"=", "random " + std::to_string(n)};
    for (int k = length(random); k > 0; --k) f.text += pieces[pick(random)];
    formulas.push_back(std::move(f));
  }
  // Laid out rather than refused: over half of them in the four configurations without gaps.
  EXPECT_GT(CheckAll(formulas, true), 2 * static_cast<int>(formulas.size()));
}

// A "{" right after a literal still opens an array constant; a "(" at the end of the length laid
// out is half of an empty pair when the table's next character is ")".
TEST(Layout, AnArrayAfterALiteralAndAPairCutByTheLength) {
  struct Case {
    std::u16string formula;
    std::int32_t length;
    std::string lines;
  };
  for (const Case& c : std::vector<Case>{{u"=F(\"a\"{1,2})", 12, "0: =F(\n5: \"a\"{1,2}\n2: )\n2:"},
                                         {u"=F()", 3, "0: =F("},
                                         {u"()", 1, "0: ("}}) {
    SCOPED_TRACE(Utf16ToUtf8(c.formula));
    cls_corvane a;
    Configure(a, Mode::Notepad, false);
    Scan(a, c.formula);
    a.iLenFormula = c.length;
    EXPECT_EQ(Render(a.LayoutFormula()), c.lines);
  }
}

}  // namespace
}  // namespace corvane
