// The layout: laid-out formulas as the user sees them, for a text editor (every character one
// space wide, two spaces after a level's parenthesis) and for the cell (widths from a small fake
// font table, seven spaces), names kept whole, failures, and the fast layout against a literal
// rebuild-from-snapshots layout over the whole corpus and random formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "addin/mdl_support.h"
#include "base/platform.h"
#include "formatting/char_scan.h"
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

// Each line as its number of leading spaces, a colon and the rest: "6: A1,".
std::string Render(std::u16string_view text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
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

// ---- The literal layout: the whole output copied twice per character ----

bool IsOperatorChar(std::u16string_view c, bool arithmeticOnly) {
  static const std::u16string arithmetic = u"+-*/^";
  static const std::u16string all = u"+-*/^<>=";
  return c.size() == 1 && (arithmeticOnly ? arithmetic : all).find(c[0]) != std::u16string::npos;
}

std::u16string Spaces(std::int32_t count) {
  if (count < 0) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return std::u16string(static_cast<std::size_t>(count), u' ');
}

// Which characters the reference treats as ordinary beyond what CheckChar says: none; those the
// lexer reads as inside a literal or a name (which decides, whatever CheckChar's literal marks
// say); or those the layout took for names before the lexer (sheet-name marks of the character
// table and square brackets counted outside literals and sheet names).
enum class Names { Syntax, Lexer, TableMarks };

// What a formula meets where the layout departs from the literal rebuild: an inline ")" that
// begins a line (it goes under its "(" measured with the line's indentation), a "(" right after a
// level's ")" (it stays on that line), an intersection right after a ")" (it stays on that line),
// an array constant (never broken).
struct Departures {
  bool inlineUnder = false;
  bool parenAfterClose = false;
  bool intersection = false;
  bool array = false;
  bool any() const { return inlineUnder || parenAfterClose || intersection || array; }
};

// Everything through the object's public methods, and the lexer for names. A rebuild after a
// level's ")" starts from the output as it stands without the line break its close appended
// (`fromLastClose`), or as the literal rebuild does from the output two characters back.
std::u16string ReferenceLayout(cls_corvane& a, Names names = Names::Lexer, Departures* departures = nullptr,
                               bool fromLastClose = true) {
  const RegionalFormat& fmt = Regional();
  const StringTable& table = a.strCharArray;
  std::vector<bool> inName;
  const auto length = static_cast<std::size_t>(std::max(a.iLenFormula, 0));
  for (const lex::Span& s : lex::Lex(std::u16string_view(a.strFormula).substr(0, length), a.strListSeparator))
    inName.insert(inName.end(), s.end - s.begin, lex::IsName(s.kind));
  const auto opens = std::count(a.strFormula.begin(), a.strFormula.end(), u'(');
  Variant levels(VariantArray(1, static_cast<std::int32_t>(opens)));
  VariantArray stack(0, 0);
  std::int32_t top = 0;
  std::u16string formatted, prevFormatted, prevPrevFormatted, lineText, indent, prevIndent;
  std::int32_t level = 0, openInline = 0, depth = 0;
  bool afterRight = false, afterEmpty = false, afterInline = false, afterArith = false, operandStart = false;

  const auto width = [&](const std::u16string& s) {
    Variant v(s);
    return a.GetSpacingThisLevel(v);
  };
  const auto indentCount = [&] { return a.GetIndentSpacesCount(level, levels); };
  Departures ignored;
  Departures& met = departures != nullptr ? *departures : ignored;
  const std::u16string_view formula = std::u16string_view(a.strFormula).substr(0, length);
  for (const lex::Span& s : lex::Lex(formula, a.strListSeparator)) met.array = met.array || s.kind == lex::Kind::ArrayOpen;
  // The output before the ")" just laid out, and that ")" on its line.
  const auto rebuilt = [&] {
    return fromLastClose ? formatted.substr(0, formatted.rfind(u'\n')) : prevPrevFormatted + u"\n" + prevIndent + u")";
  };
  const auto pop = [&] {
    if (--top < 0) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
    stack.redimPreserve(top);
  };

  for (std::int32_t i = 1; i <= a.iLenFormula; ++i) {
    prevPrevFormatted = prevFormatted;
    prevFormatted = formatted;
    prevIndent = indent;
    ParenCheck r = a.CheckCharAt(i, table);
    const std::u16string c = r.strCurrentChar;
    if (names == Names::Lexer) {
      r.bIsArgSeparator = r.bIsLeftParen = r.bIsRightParen = r.bIsEmptyParens = false;
      if (!inName[static_cast<std::size_t>(i) - 1]) {
        r.bIsArgSeparator = c == a.strListSeparator;
        r.bIsLeftParen = !r.bIsArgSeparator && c == u"(";
        r.bIsRightParen = !r.bIsArgSeparator && c == u")";
        r.bIsEmptyParens = (r.bIsLeftParen && r.strNextChar == u")") || (r.bIsRightParen && r.strPrevChar == u"(");
      }
    } else if (names == Names::TableMarks) {
      const bool literal = table.at(i, scan::kStringMarkColumn) == scan::kStringMark;
      const bool sheet = table.at(i, scan::kSheetMarkColumn) == scan::kSheetMark;
      const bool name = sheet || depth > 0;
      if (!literal && !sheet && c == u"[") ++depth;
      if (!literal && !sheet && c == u"]" && depth > 0) --depth;
      if (name) r.bIsArgSeparator = r.bIsLeftParen = r.bIsRightParen = false;
    }
    const bool closedLevel = afterRight && !afterEmpty && !afterInline;

    if (r.bIsArgSeparator) {
      indent = Spaces(indentCount());
      if (closedLevel) {
        formatted = rebuilt() + c + u"\n" + indent;
      } else {
        formatted = formatted + c + u"\n" + indent;
      }
      lineText.clear();
      afterRight = afterArith = afterEmpty = false;
      operandStart = true;
    } else if (r.bIsLeftParen) {
      met.parenAfterClose = met.parenAfterClose || closedLevel;
      ++top;
      stack.redimPreserve(top);
      stack.at(top) = Variant(u"N");
      formatted = formatted + c;
      if ((afterArith || openInline > 0) && !operandStart) {
        stack.at(top) = Variant(width(lineText));
        lineText = lineText + c;
        ++openInline;
      } else if (r.bIsEmptyParens) {
        lineText = lineText + c;
      } else {
        lineText = lineText + c + a.strAfterParen;
        ++level;
        levels.array().at(level) = Variant(width(lineText));
        indent = Spaces(indentCount());
        formatted = formatted + u"\n" + indent;
        lineText.clear();
      }
      afterRight = afterArith = afterEmpty = false;
      operandStart = true;
    } else if (r.bIsRightParen) {
      const bool topIsNumber = stack.at(top).type() == Variant::Type::Double;
      if (r.bIsEmptyParens) {
        formatted = formatted + c;
        lineText = lineText + c;
        if (topIsNumber) --openInline;
        afterEmpty = true;
      } else if (!(stack.at(top) == Variant(u"N"))) {
        Variant v(formatted);
        formatted = a.RemoveSpacesInLastLine(v);
        if (!formatted.empty() && formatted.back() == u'\n') {
          met.inlineUnder = true;
          indent = Spaces(RoundToLong(ToDouble(stack.at(top), fmt)));
          formatted = formatted + indent + c;
          lineText = lineText + indent + c;
        } else {
          formatted = formatted + c;
          lineText = lineText + c;
        }
        --openInline;
        afterInline = true;
        afterEmpty = false;
      } else {
        Variant& element = levels.array().at(level);
        element = Variant(ToDouble(element, fmt) - (ToDouble(a.SpacingArray.at(40), fmt) +
                                                     static_cast<double>(a.strAfterParen.size())));
        indent = Spaces(indentCount());
        if (closedLevel) {
          formatted = rebuilt() + u"\n" + indent + c + u"\n" + indent;
        } else {
          formatted = formatted + u"\n" + indent + c + u"\n" + indent;
        }
        --level;
        lineText.clear();
        afterInline = afterEmpty = false;
      }
      afterRight = true;
      afterArith = operandStart = false;
      pop();
    } else {
      if (afterRight) {
        if (c == u" " && (closedLevel || afterEmpty)) {
          std::size_t end = static_cast<std::size_t>(i);
          while (end < formula.size() && formula[end] == u' ') ++end;
          met.intersection = met.intersection || lex::IsIntersection(formula, static_cast<std::size_t>(i) - 1, end);
        }
        indent = Spaces(indentCount());
        if (afterEmpty) {
          formatted = formatted + u"\n" + indent + c;
          lineText.clear();
        } else if (afterInline) {
          formatted = formatted + c;
        } else {
          formatted = rebuilt() + u"\n" + indent + c;
        }
      } else {
        formatted = formatted + c;
      }
      lineText = lineText + c;
      afterRight = afterEmpty = false;
      if (!a.bFormatAllParens) afterArith = IsOperatorChar(c, true);
    }
    if (operandStart && !r.bIsArgSeparator && IsOperatorChar(c, false)) operandStart = false;
  }
  return formatted;
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

// ---- Laid out for a text editor ----

struct Golden {
  std::u16string formula;
  const char* options;  // "off", "on" or "both": the "Format All Parens" settings it holds for
  std::string lines;
};

void ExpectGoldens(Mode mode, const std::vector<Golden>& goldens) {
  for (const Golden& g : goldens) {
    for (const bool allParens : {false, true}) {
      const std::string options = g.options;
      if (options != "both" && options != (allParens ? "on" : "off")) continue;
      SCOPED_TRACE(Utf16ToUtf8(g.formula) + (allParens ? "  (Format All Parens on)" : "  (Format All Parens off)"));
      cls_corvane a;
      Configure(a, mode, allParens);
      EXPECT_EQ(Render(Laid(a, g.formula)), g.lines);
    }
  }
}

TEST(Layout, LevelsSeparatorsAndClosingParenthesesForTheEditor) {
  ExpectGoldens(Mode::Notepad, {
      {u"=IF(A1,SUM(B1,C1),0)", "both",
       "0: =IF(\n6: A1,\n6: SUM(\n12: B1,\n12: C1\n9: ),\n6: 0\n3: )\n3:"},
      // Text after a level's close starts a new line at the enclosing level's indentation.
      {u"=SUM(A1)+1", "both", "0: =SUM(\n7: A1\n4: )\n0: +1"},
      // A parenthesis or separator inside a string literal is only text.
      {u"=IF(A1=\"(,)\",1,2)", "both", "0: =IF(\n6: A1=\"(,)\",\n6: 1,\n6: 2\n3: )\n3:"},
      // Level closes in a row, each under its parenthesis, with no empty line between them.
      {u"=A(B(C(1)))", "both", "0: =A(\n5: B(\n9: C(\n13: 1\n10: )\n6: )\n2: )\n2:"},
      {u"=IF(ISNA(MATCH(A1,B1,0)),0,1)", "both",
       "0: =IF(\n6: ISNA(\n13: MATCH(\n21: A1,\n21: B1,\n21: 0\n18: )\n10: ),\n6: 0,\n6: 1\n3: )\n3:"},
  });
}

TEST(Layout, EmptyPairsStayWhole) {
  ExpectGoldens(Mode::Notepad, {
      // The character after an empty pair starts a new line.
      {u"=NOW()+1", "both", "0: =NOW()\n0: +1"},
      // A separator after an empty pair joins its line.
      {u"=IF(A1,NOW(),1)", "both", "0: =IF(\n6: A1,\n6: NOW(),\n6: 1\n3: )\n3:"},
  });
}

TEST(Layout, GroupsAfterArithmeticOperatorsStayInlineWhenTheOptionIsOff) {
  ExpectGoldens(Mode::Notepad, {
      {u"=SUM(A1*(B1+C1),2)", "off", "0: =SUM(\n7: A1*(B1+C1),\n7: 2\n4: )\n4:"},
      {u"=SUM(A1*(B1+C1),2)", "on", "0: =SUM(\n7: A1*(\n13: B1+C1\n10: ),\n7: 2\n4: )\n4:"},
      // The group and the empty pair inside it stay inline; once the group has closed no inline
      // parenthesis is open, so the one after SUM opens a level.
      {u"=A1*(B1+NOW())+SUM(C1,D1)", "off", "0: =A1*(B1+NOW())+SUM(\n21: C1,\n21: D1\n18: )\n18:"},
      // A function at the start of the group's operand opens a level; the group's closing
      // parenthesis would begin a line, so it goes under its opening one.
      {u"=A1*(SUM(B1,C1))", "off", "0: =A1*(SUM(\n11: B1,\n11: C1\n8: )\n4: )"},
  });
}

// Where a closing parenthesis would not land under its partner, or a space or separator would be
// read as layout, the layout keeps them on the line they belong to.
TEST(Layout, ClosingParenthesesStandUnderTheirPartnersInBothDestinations) {
  ExpectGoldens(Mode::Notepad, {
      // An inline group's ")" that begins a line goes under its "(", the line's indentation
      // counted.
      {u"=IF(A1,B1*(SUM(C1,D1)),0)", "off",
       "0: =IF(\n6: A1,\n6: B1*(SUM(\n16: C1,\n16: D1\n13: )\n9: ),\n6: 0\n3: )\n3:"},
      // A parenthesis right after a level's ")" stays on that line, and its level is measured
      // from where it stands.
      {u"=LAMBDA(x,y,x+y)(1,2)", "both",
       "0: =LAMBDA(\n10: x,\n10: y,\n10: x+y\n7: )(\n11: 1,\n11: 2\n8: )\n8:"},
      {u"=F(1)(2)", "both", "0: =F(\n5: 1\n2: )(\n6: 2\n3: )\n3:"},
  });
  ExpectGoldens(Mode::Cell, {
      // "W*(" starts 11 spaces in and is 4 wide: the inline ")" goes at 15.
      {u"=IF(W,W*(SUM(1,2)),0)", "off",
       "0: =IF(\n11: W,\n11: W*(SUM(\n27: 1,\n27: 2\n19: )\n15: ),\n11: 0\n3: )\n3:"},
      {u"=F(1)(2)", "both", "0: =F(\n10: 1\n2: )(\n11: 2\n3: )\n3:"},
      {u"=A(B(C(1)))", "both", "0: =A(\n10: B(\n19: C(\n28: 1\n20: )\n11: )\n2: )\n2:"},
  });
}

TEST(Layout, IntersectionsAndArrayConstantsStayWhole) {
  for (const Mode mode : {Mode::Notepad, Mode::Cell}) {
    const bool cell = mode == Mode::Cell;
    ExpectGoldens(mode, {
        // A space after a ")" that is the intersection operator stays on the ")" line with the
        // operand after it; at the start of a line it would read as indentation.
        {u"=F() A1:B2", "both", "0: =F() A1:B2"},
        {u"=D8:(E7) (E9):F8", "both",
         cell ? "0: =D8:(\n12: E7\n4: ) (\n14: E9\n6: )\n0: :F8" : "0: =D8:(\n7: E7\n4: ) (\n9: E9\n6: )\n0: :F8"},
        // A space that is no intersection is laid out as before.
        {u"=SUM(1) +2", "both", cell ? "0: =SUM(\n12: 1\n4: )\n1: +2" : "0: =SUM(\n7: 1\n4: )\n1: +2"},
        // The separators of an array constant part values, not arguments.
        {u"=SUM({1,2;3,4},INDEX({\"a,b\",\"c\"},2))", "both",
         cell ? "0: =SUM(\n12: {1,2;3,4},\n12: INDEX(\n25: {\"a,b\",\"c\"},\n25: 2\n17: )\n4: )\n4:"
              : "0: =SUM(\n7: {1,2;3,4},\n7: INDEX(\n15: {\"a,b\",\"c\"},\n15: 2\n12: )\n4: )\n4:"},
    });
  }
}

TEST(Layout, AFormulaEndingInALevelCloseEndsInItsIndentation) {
  cls_corvane a;
  Configure(a, Mode::Notepad, false);
  EXPECT_EQ(Laid(a, u"=SUM(A1)"), u"=SUM(\n       A1\n    )\n    ");
}

TEST(Layout, TheParenthesisWidthOfTheTableIsTakenOffInEveryMode) {
  cls_corvane a;
  Configure(a, Mode::Notepad, false);
  a.SpacingArray.at(40) = Variant(u"0.5");
  // The level is 6 wide; its close takes off 0.5 + 2, leaving 3.5, which rounds to 4.
  EXPECT_EQ(Render(Laid(a, u"=IF(A1)")), "0: =IF(\n6: A1\n4: )\n4:");
}

// ---- Laid out for the cell, with the fake font ----

TEST(Layout, CellIndentationFollowsTheWidthsOfTheFont) {
  ExpectGoldens(Mode::Cell, {
      // "=WW" is 7 wide, so the first level's text starts 1 + 7 spaces after it, at 15; its
      // closing parenthesis goes under the "(", at 7.
      {u"=WW(i,Wii(1,2))", "both", "0: =WW(\n15: i,\n15: Wii(\n27: 1,\n27: 2\n19: )\n7: )\n7:"},
      // 9.5 and 1.5 both round to the even 10 and 2.
      {u"=i(W)", "both", "0: =i(\n10: W\n2: )\n2:"},
      // An inline group's closing parenthesis that would begin a line goes under its opening
      // one: "=W*" is 5 wide.
      {u"=W*(SUM(1))", "off", "0: =W*(SUM(\n17: 1\n9: )\n5: )"},
  });
}

TEST(Layout, SpecialCharactersAreMeasuredThroughTheStore) {
  MemoryStore store;
  memory::FixedMeasurer measurer;
  PlatformServices services;
  services.store = &store;
  services.textMeasurer = &measurer;
  ScopedServices scoped(services);
  auto app = memory::MemoryApplication::Create(&measurer);
  cls_corvane a;
  ObjectRef ref = app;
  a.SetExcelApp(ref);
  Configure(a, Mode::Cell, false);
  store.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Calibri"), DecimalKey(kEuro), u"2");
  EXPECT_EQ(Render(Laid(a, std::u16string{u'=', kEuro, u'(', u'1', u')'})), "0: =\xE2\x82\xAC(\n11: 1\n3: )\n3:");
  EXPECT_EQ(app->WorkbooksAdded(), 0);
}

// The layout needs no add-in object: a parsed table, the options, and the caller's measure of a
// line that holds a special character, which gets the whole line through the room after "(".
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
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)),
            "0: =W(\n12: 1,\n12: \xE2\x82\xAC(\n24: 2\n16: )\n4: )\n4:");
  ASSERT_EQ(measured.size(), 1U);
  EXPECT_EQ(measured[0], (std::u16string{kEuro, u'(', u' ', u' ', u' ', u' ', u' ', u' ', u' '}));

  // Without a measure the special character ends the line's sum, as an entry that is no number does.
  options.specialLine = nullptr;
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)),
            "0: =W(\n12: 1,\n12: \xE2\x82\xAC(\n12: 2\n4: )\n4: )\n4:");
  options.destination = layout::Destination::TextFile;
  options.afterParen = u"  ";
  EXPECT_EQ(Render(layout::Layout(formula, options, widths)),
            "0: =W(\n5: 1,\n5: \xE2\x82\xAC(\n9: 2\n6: )\n2: )\n2:");
}

// ---- Names are never broken ----

TEST(Layout, SheetNamesAndBracketedNamesAreNeverBroken) {
  const std::vector<Golden> goldens = {
      {u"='Jan (2)'!A1", "both", "0: ='Jan (2)'!A1"},
      {u"=SUM('Jan (2)'!A1,'Aid, 2019'!B2)", "both", "0: =SUM(\n7: 'Jan (2)'!A1,\n7: 'Aid, 2019'!B2\n4: )\n4:"},
      {u"=SUM(Table1[[#This Row],[Price, net]])", "both",
       "0: =SUM(\n7: Table1[[#This Row],[Price, net]]\n4: )\n4:"},
      {u"=IF([Book (1).xlsx]Data!A1,'[Q1, Q2.xlsx]Sum (net)'!B2)", "both",
       "0: =IF(\n6: [Book (1).xlsx]Data!A1,\n6: '[Q1, Q2.xlsx]Sum (net)'!B2\n3: )\n3:"},
  };
  ExpectGoldens(Mode::Notepad, goldens);
  for (const Golden& g : goldens) {
    SCOPED_TRACE(Utf16ToUtf8(g.formula));
    cls_corvane a;
    Configure(a, Mode::Cell, false);
    const std::u16string laid = Laid(a, g.formula);
    Scan(a, laid);
    EXPECT_EQ(Utf16ToUtf8(Unformat(laid)), Utf16ToUtf8(g.formula)) << "unformats back";
  }
  // The character scan's own classification is unchanged.
  cls_corvane a;
  Configure(a, Mode::Notepad, false);
  Scan(a, u"='Jan (2)'!A1");
  EXPECT_TRUE(a.CheckCharAt(7, a.strCharArray).bIsLeftParen);
}

// ---- Failures ----

TEST(Layout, AClosingParenthesisWithNothingToCloseFails) {
  for (const Mode mode : {Mode::Notepad, Mode::Cell}) {
    for (const char16_t* formula : {u"=A1)", u"=)", u"=SUM(A1))", u"=(A1))+(B1", u"=NOW())"}) {
      SCOPED_TRACE(Utf16ToUtf8(formula));
      cls_corvane a;
      Configure(a, mode, false);
      EXPECT_EQ(Outcome([&] { return Laid(a, formula); }), u"<error 9>");
    }
  }
}

TEST(Layout, AParenthesisWidthThatIsNoNumberFailsAtTheFirstLevelClose) {
  cls_corvane a;
  Configure(a, Mode::Cell, false);
  a.SpacingArray.at(40) = Variant(u"Not Found");
  EXPECT_EQ(Outcome([&] { return Laid(a, u"=NOW()+(1)"); }), u"=NOW()\n+(1)") << "no level closes here";
  EXPECT_EQ(Outcome([&] { return Laid(a, u"=SUM(1)"); }), u"<error 13>");
}

TEST(Layout, ATableThatDoesNotCoverTheFormulaFails) {
  cls_corvane a;
  Configure(a, Mode::Notepad, false);
  Scan(a, u"=SUM(1)");
  a.iLenFormula = 8;
  EXPECT_EQ(Outcome([&] { return a.LayoutFormula(); }), u"<error 9>");
}

// ---- RemoveSpacesInLastLine ----

TEST(Layout, RemoveSpacesInLastLineTakesOnlyTrailingSpaces) {
  cls_corvane a;
  const auto remove = [&](Variant v) { return Utf16ToUtf8(a.RemoveSpacesInLastLine(v)); };
  EXPECT_EQ(remove(Variant(u"=A1  ")), "=A1");
  EXPECT_EQ(remove(Variant(u"=SUM(\n  A1\n    ")), "=SUM(\n  A1\n") << "a line of spaces only";
  EXPECT_EQ(remove(Variant(u"   ")), "");
  EXPECT_EQ(remove(Variant(u"")), "");
  EXPECT_EQ(remove(Variant(u"A1\t")), "A1\t") << "a tab stops the removal";
  EXPECT_EQ(remove(Variant(u" A \u00A0 ")), " A \u00A0") << "so does a non-breaking space";
  EXPECT_EQ(remove(Variant(std::int32_t{12})), "12");
}

// ---- Against the literal layout ----

struct Config {
  const char* name;
  Mode mode;
  bool allParens;
  bool gaps;  // some widths "Not Found", as after a cancelled calibration
};

const Config kConfigs[] = {
    {"editor, option off", Mode::Notepad, false, false},
    {"editor, option on", Mode::Notepad, true, false},
    {"cell, option off", Mode::Cell, false, false},
    {"cell, option on", Mode::Cell, true, false},
    {"cell with gaps, option off", Mode::Cell, false, true},
};

// Widths as a calibration with the fixed measurer leaves them, so that the cell layout meets
// fractional widths; "gaps" leaves a few codes uncalibrated.
void ConfigureFor(cls_corvane& a, const Config& config) {
  Configure(a, config.mode, config.allParens);
  if (config.mode != Mode::Cell) return;
  for (std::int32_t k = 2; k <= 767; ++k) {
    const double ratio = memory::FixedMeasurer::BaseWidth(static_cast<char16_t>(k)) / 3.0;
    a.SpacingArray.at(k) = Variant(calibration::RatioText(ratio, Regional()));
  }
  if (config.gaps)
    for (const char16_t c : {u'B', u'$', u'"', u'7'}) a.SpacingArray.at(c) = Variant(u"Not Found");
}

// The host and store that special characters are measured with.
class LayoutAgainstReference : public ::testing::Test {
 protected:
  LayoutAgainstReference() : scoped_(TestServices()) {
    app_ = memory::MemoryApplication::Create(&measurer_);
    ObjectRef ref = app_;
    addin_.SetExcelApp(ref);
  }
  PlatformServices TestServices() {
    PlatformServices s;
    s.store = &store_;
    s.textMeasurer = &measurer_;
    return s;
  }

  // Lays every formula out both ways in every configuration; returns the number of differences
  // in formulas that meet none of the departures from the literal rebuild. `departed` counts,
  // per departure, the formulas whose output it changes.
  int CompareAll(const std::vector<corpus::Formula>& formulas, std::map<std::string, std::set<std::string>>* departed = nullptr) {
    int differences = 0;
    for (const Config& config : kConfigs) {
      ConfigureFor(addin_, config);
      for (const auto& f : formulas) {
        Scan(addin_, f.text);
        Departures met;
        const std::u16string expected = Outcome([&] { return ReferenceLayout(addin_, Names::Lexer, &met); });
        const std::u16string actual = Outcome([&] { return addin_.LayoutFormula(); });
        if (actual == expected) continue;
        if (met.any()) {
          if (departed != nullptr) {
            if (met.inlineUnder) (*departed)["an inline \")\" under its \"(\""].insert(f.source);
            if (met.parenAfterClose) (*departed)["a \"(\" after a level's \")\""].insert(f.source);
            if (met.intersection) (*departed)["an intersection after a \")\""].insert(f.source);
            if (met.array) (*departed)["an array constant"].insert(f.source);
          }
          continue;
        }
        if (differences++ < 5)
          ADD_FAILURE() << f.source << " (" << config.name << "): " << Utf16ToUtf8(f.text) << "\nexpected:\n"
                        << Utf16ToUtf8(expected) << "\nactual:\n"
                        << Utf16ToUtf8(actual);
      }
    }
    return differences;
  }

  MemoryStore store_;
  memory::FixedMeasurer measurer_;
  ScopedServices scoped_;
  std::shared_ptr<memory::MemoryApplication> app_;
  cls_corvane addin_;
};

TEST_F(LayoutAgainstReference, WholeCorpusInBothModesAndBothOptions) {
  const auto formulas = corpus::LoadCorpus();
  ASSERT_GT(formulas.size(), 39000u);
  std::map<std::string, std::set<std::string>> departed;
  EXPECT_EQ(CompareAll(formulas, &departed), 0);
  for (const auto& [what, sources] : departed)
    std::printf("output changed by %s: %zu formulas, e.g. %s\n", what.c_str(), sources.size(), sources.begin()->c_str());

  // The rebuild from the output as it stands against the literal one from two characters back
  // (for the editor: the change is the same in every configuration): they differ only after two
  // level closes in a row.
  std::set<std::string> rebuilt;
  {
    ConfigureFor(addin_, kConfigs[0]);
    for (const auto& f : formulas) {
      Scan(addin_, f.text);
      const std::u16string literal = Outcome([&] { return ReferenceLayout(addin_, Names::Lexer, nullptr, false); });
      if (literal == Outcome([&] { return ReferenceLayout(addin_); })) continue;
      rebuilt.insert(f.source);
      if (literal.find(u")\n") == std::u16string::npos) ADD_FAILURE() << f.source << ": no level close";
    }
  }
  std::printf("output changed by the rebuild after two level closes: %zu formulas\n", rebuilt.size());
  EXPECT_GT(rebuilt.size(), 1000U);
  RecordProperty("formulas", static_cast<int>(formulas.size()));
}

// What a formula holds that the layout read wrong before the lexer: an apostrophe inside
// brackets (an escape, taken for the start of a sheet name), a double quote inside brackets or
// inside a sheet name (text of the name, taken for the start of a literal). Empty: none of these.
std::string Misreading(std::u16string_view formula) {
  for (const lex::Span& s : lex::Lex(formula, u",")) {
    const std::u16string_view text = formula.substr(s.begin, s.end - s.begin);
    if (s.kind == lex::Kind::BracketedName && text.find(u'\'') != std::u16string_view::npos)
      return "apostrophe inside brackets";
    if (s.kind == lex::Kind::BracketedName && text.find(u'"') != std::u16string_view::npos)
      return "double quote inside brackets";
    if (s.kind == lex::Kind::SheetName && text.find(u'"') != std::u16string_view::npos)
      return "double quote inside a sheet name";
  }
  return {};
}

// The layout before the lexer (names from the table's marks and a bracket count) against the
// layout now, over the whole corpus: every formula whose output changed, apart from the
// departures, holds one of the misreadings, and the count of each is printed.
TEST_F(LayoutAgainstReference, OnlyMisreadNamesChangeAnyOutputOfTheCorpus) {
  const auto formulas = corpus::LoadCorpus();
  std::map<std::string, std::set<std::string>> changed;  // misreading -> sources
  // Names are read alike in every configuration: the editor with the option off and the cell
  // with it on meet every kind of turn.
  for (const Config& config : {kConfigs[0], kConfigs[3]}) {
    ConfigureFor(addin_, config);
    for (const auto& f : formulas) {
      Scan(addin_, f.text);
      Departures met;
      const std::u16string before = Outcome([&] { return ReferenceLayout(addin_, Names::TableMarks, &met); });
      const std::u16string now = Outcome([&] { return addin_.LayoutFormula(); });
      if (before == now || met.any()) continue;
      const std::string why = Misreading(f.text);
      if (why.empty())
        ADD_FAILURE() << f.source << " (" << config.name << ") changed: " << Utf16ToUtf8(f.text) << "\nbefore:\n"
                      << Utf16ToUtf8(before) << "\nnow:\n"
                      << Utf16ToUtf8(now);
      changed[why].insert(f.source);
    }
  }
  for (const auto& [why, sources] : changed)
    std::printf("layout changed by the lexer (%s): %zu formulas, e.g. %s\n", why.c_str(), sources.size(),
                sources.begin()->c_str());
  EXPECT_TRUE(changed.contains("apostrophe inside brackets")) << "the corpus holds such formulas";
}

// Shapes the corpus holds rarely: long runs of closing parentheses, deep nesting, unbalanced
// parentheses, inline groups in inline groups, special characters, names with parentheses,
// array constants, intersections.
std::vector<corpus::Formula> RandomFormulas() {
  static const std::u16string pieces[] = {u"(", u"(",   u")",   u")",  u")",      u",",      u"+", u"*",
                                          u"-", u"A1",  u"SUM(", u"NOW()", u" ", u"\"", u"'",   u"[", u"]",
                                          u"=", u"<",   u"x",   std::u16string(1, kEuro), u"i", u"W", u"((",
                                          u"{1,2}", u" A1"};
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(1, 60);
  std::vector<corpus::Formula> formulas;
  for (int n = 0; n < 3000; ++n) {
    corpus::Formula f{u"=", "random " + std::to_string(n)};
    for (int k = length(random); k > 0; --k) f.text += pieces[pick(random)];
    formulas.push_back(std::move(f));
  }
  return formulas;
}

TEST_F(LayoutAgainstReference, RandomFormulas) {
  const std::vector<corpus::Formula> formulas = RandomFormulas();
  EXPECT_EQ(CompareAll(formulas), 0);

  int laidOut = 0;
  Configure(addin_, Mode::Notepad, false);
  for (const auto& f : formulas) laidOut += Outcome([&] { return Laid(addin_, f.text); }).starts_with(u"<error") ? 0 : 1;
  EXPECT_GT(laidOut, 300) << "enough of them are laid out rather than refused";
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
  struct Open {
    double column;
    bool level;  // it ends its line
  };
  std::vector<Open> open;
  double column = 0.0;
  bool lineStart = true;
  int line = 1;
  for (std::size_t i = 0; i < laid.size(); ++i) {
    const char16_t c = laid[i];
    const lex::Kind kind = kinds[i];
    if (c == u'\n' && kind == lex::Kind::Whitespace) {
      column = 0.0;
      lineStart = true;
      ++line;
      continue;
    }
    if (lineStart && c != u' ') {
      lineStart = false;
      double wanted = 0.0;
      if (kind == lex::Kind::CloseParen) {
        wanted = open.empty() ? column : open.back().column;
      } else {
        const auto level = std::find_if(open.rbegin(), open.rend(), [](const Open& o) { return o.level; });
        if (level != open.rend()) wanted = level->column + width(u'(') + static_cast<double>(afterParen) * width(u' ');
      }
      if (std::abs(column - wanted) > tolerance + 1e-9)
        return "line " + std::to_string(line) + " starts at " + std::to_string(column) + ", not " + std::to_string(wanted);
    }
    if (kind == lex::Kind::OpenParen) open.push_back({column, i + 1 < laid.size() && laid[i + 1] == u'\n'});
    if (kind == lex::Kind::CloseParen && !open.empty()) open.pop_back();
    column += width(c);
  }
  return {};
}

// Every formula of the corpus and the random ones, as unformat leaves it, in both destinations and
// with both options: the layout keeps its promises, unformats back to the formula (no line break
// inside a name, no intersection lost), and laying out the laid-out text gives the same text.
// Counts the formulas whose names hold parentheses or separators that the layout would have
// broken without the lexer.
TEST_F(LayoutAgainstReference, LaidOutFormulasKeepThePromisesUnformatBackAndStayAsTheyAre) {
  std::vector<corpus::Formula> formulas = corpus::LoadCorpus();
  for (corpus::Formula& f : RandomFormulas()) formulas.push_back(std::move(f));
  cls_corvane& a = addin_;
  int namesKept = 0;
  int failures = 0;
  for (const Config& config : kConfigs) {
    if (config.gaps) continue;
    ConfigureFor(a, config);
    const std::shared_ptr<const spacing::Widths> widths =
        config.mode == Mode::Cell ? std::make_shared<spacing::Widths>(a.SpacingArray, Regional()) : nullptr;
    const auto fail = [&](const corpus::Formula& f, const std::string& what, std::u16string_view laid) {
      if (failures++ < 5)
        ADD_FAILURE() << f.source << " (" << config.name << "): " << what << "\n" << Utf16ToUtf8(f.text)
                      << "\nlaid out:\n" << Utf16ToUtf8(laid);
    };
    for (const auto& f : formulas) {
      const std::u16string flat = Unformat(f.text);
      Scan(a, flat);
      if (config.mode == Mode::Notepad && !config.allParens && !f.source.starts_with("random") &&
          Outcome([&] { return ReferenceLayout(a, Names::Syntax); }) != Outcome([&] { return ReferenceLayout(a); }))
        ++namesKept;
      std::u16string laid;
      try {
        laid = a.LayoutFormula();
      } catch (const AutomationError& e) {
        if (!f.source.starts_with("random")) fail(f, "error " + std::to_string(e.number()), u"");
        continue;
      }
      const bool special = std::any_of(flat.begin(), flat.end(), [](char16_t c) { return c >= spacing::kFirstSpecialCode; });
      if (!special) {
        if (const std::string broken = BrokenPromise(laid, widths.get(), a.strAfterParen.size()); !broken.empty())
          fail(f, broken, laid);
      }
      if (const std::u16string back = Unformat(laid); back != flat) fail(f, "unformats to " + Utf16ToUtf8(back), laid);
      Scan(a, RemoveLineBreaks(laid));
      if (Outcome([&] { return a.LayoutFormula(); }) != laid) fail(f, "laid out again it changes", laid);
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(namesKept, 100);
  std::printf("formulas whose names the layout keeps whole: %d\n", namesKept);
}

}  // namespace
}  // namespace corvane
