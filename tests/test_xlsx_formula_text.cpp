// Formula text between the workbook file and what the spreadsheet shows: separators of other
// locales, storage prefixes of newer functions, the copying of shared formulas, the
// spreadsheet's limits, balance and cell addresses; the fast text scans against their plain twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "formatting/lexer.h"
#include "hosts/memory/formula_balance.h"
#include "hosts/xlsx/formula_text.h"
#include "hosts/xlsx/text_kernel.h"
#include "support/corpus.h"

namespace corvane::xlsx {
namespace {

using corpus::Utf16ToUtf8;

const Dialect kGerman = MakeDialect(u';', u',');

template <typename F>
std::string Outcome(F&& convert) {
  try {
    return Utf16ToUtf8(convert());
  } catch (const AutomationError& e) {
    return "refused " + std::to_string(e.number()) + ": " + Utf16ToUtf8(e.description());
  }
}

// Every corpus formula (and some crafted ones) shown in another dialect comes back as it was,
// as balanced as before; and the shortcuts for the file's own separators give what the walk
// over every token gives, also after another previous text.
TEST(XlsxFormulaText, FormulasGoThroughOtherDialectsAndBack) {
  std::vector<std::u16string> texts = {u"SUM(1;2)", u"{1,2;3,4.5}", u"\"a;b{\"&LOG10(2.5)", u"_xlfn.CONCAT(1,2)",
                                       u"CONCAT(\n   A1,\n   \"x\"\n)", u"1.5E+3+.5", u"'a;b'!A1+[x;y]S!B2"};
  const std::size_t crafted = texts.size();
  for (const auto& f : corpus::Sample()) texts.push_back(f.text.substr(1));  // the file form: no "="
  std::size_t changed = 0;
  const Dialect dialects[] = {kGerman, MakeDialect(u';', u'.'), MakeDialect(u',', u'.'), Dialect{}};
  for (std::size_t i = 0; i < std::size(dialects); ++i) {
    const Dialect& d = dialects[i];
    const bool shortcut = i >= 2;  // the dialects the shortcuts are for; the others walk anyway
    for (std::size_t k = 0; k < texts.size(); ++k) {
      const std::u16string& file = texts[k];
      const std::u16string shown = ShownFormula(file, d);
      changed += shown != u"=" + file ? 1 : 0;
      if (shortcut) {
        ASSERT_EQ(Utf16ToUtf8(shown), Utf16ToUtf8(ShownFormulaByTokens(file, d))) << Utf16ToUtf8(file);
      }
      if (k >= crafted) {
        ASSERT_EQ(Outcome([&] { return FileFormula(shown, d, file); }), Utf16ToUtf8(file)) << Utf16ToUtf8(shown);
        ASSERT_EQ(memory::Balanced(u"=" + file), memory::Balanced(shown)) << Utf16ToUtf8(shown);
      }
      if (!shortcut) continue;
      std::vector<std::u16string> previous = {file};
      if (k < crafted) previous.insert(previous.end(), {u"", u"_xlfn.SUM(1)"});
      for (const std::u16string& before : previous)
        ASSERT_EQ(Outcome([&] { return FileFormula(u"=" + file, d, before); }),
                  Outcome([&] { return FileFormulaByTokens(u"=" + file, d, before); }))
            << Utf16ToUtf8(file) << " after " << Utf16ToUtf8(before);
    }
  }
  EXPECT_GT(changed * corpus::kStride, 10000U) << "the other dialects changed hardly any formula";
}

TEST(XlsxFormulaText, ShowsTheDialectsSeparatorsAndNoStoragePrefixes) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"SUM(1.5,A1:B2)", u"=SUM(1,5;A1:B2)"},
      {u"{1,2;3,4.5}", u"={1.2;3.4,5}"},
      {u"IF(A1=\"a,b.c\",'x,y'!A1,Table1[[#This Row],[a,b]])", u"=IF(A1=\"a,b.c\";'x,y'!A1;Table1[[#This Row],[a,b]])"},
      {u"1.5E+3+.5", u"=1,5E+3+,5"},
      {u"_xlfn.STDEV.S(A1:A9)", u"=STDEV.S(A1:A9)"},
      {u"_xlfn._xlws.SORT(A1:A3,1)", u"=SORT(A1:A3;1)"},
      {u"_xlfn.LET(_xlpm.x,2,_xlpm.x*3)", u"=LET(x;2;x*3)"},
      {u"SUM((A1:A2,C1:C2))", u"=SUM((A1:A2;C1:C2))"},
  };
  for (const auto& [file, shown] : cases) {
    EXPECT_EQ(Utf16ToUtf8(ShownFormula(file, kGerman)), Utf16ToUtf8(shown));
    EXPECT_EQ(Utf16ToUtf8(FileFormula(shown, kGerman, file)), Utf16ToUtf8(file));
  }
  EXPECT_EQ(Utf16ToUtf8(ShownFormula(u"SUM(1.5,\"x\")", Dialect{})), "=SUM(1.5,\"x\")");
  // Laid-out text goes back with its prefixes and whitespace; case does not matter for the
  // names, and a name the previous text did not prefix stays bare.
  const std::u16string previous = u"_xlfn.CONCAT(A1,_xlfn.TEXTJOIN(\",\",TRUE,B1:B3))";
  EXPECT_EQ(Utf16ToUtf8(FileFormula(u"=CONCAT(\n       A1;\n       TEXTJOIN(\n              \",\";TRUE;B1:B3\n       )\n)", kGerman, previous)),
            "_xlfn.CONCAT(\n       A1,\n       _xlfn.TEXTJOIN(\n              \",\",TRUE,B1:B3\n       )\n)");
  EXPECT_EQ(Utf16ToUtf8(FileFormula(u"=concat(A1,SUM(1))", Dialect{}, previous)), "_xlfn.concat(A1,SUM(1))");
  // Text the dialect cannot have written is refused.
  for (const auto& c : std::vector<std::pair<std::u16string, bool>>{
           {u"=SUM(1,5,2)", true}, {u"SUM(1;2)", true}, {u"={1;2,3,4}", true}, {u"={1,2.3}", false}, {u"=SUM(1,5;2)", false}})
    EXPECT_EQ(Outcome([&] { return FileFormula(c.first, kGerman, u""); }).starts_with("refused 1004"), c.second) << Utf16ToUtf8(c.first);
  EXPECT_THROW(MakeDialect(u',', u','), AutomationError);
  EXPECT_THROW(MakeDialect(u'a', u'.'), AutomationError);
  EXPECT_THROW(MakeDialect(u'.', u','), AutomationError);
}

// tests/golden/shared_formulas.txt: the rows and columns moved and the master's formula, then the
// member's.
TEST(XlsxFormulaText, SharedFormulasMoveTheirRelativeReferences) {
  const auto cases = corpus::LoadGolden("shared_formulas.txt");
  ASSERT_GE(cases.size(), 20U);
  for (const corpus::Golden& c : cases) {
    std::istringstream header(c.header);
    std::int32_t rows = 0, cols = 0;
    std::string text;
    header >> rows >> cols >> std::ws;
    std::getline(header, text);
    EXPECT_EQ(Utf16ToUtf8(ShiftReferences(Ascii16(text), rows, cols)), c.lines) << c.header;
  }
}

// At the limits, the "=" counted though the file leaves it out (the nesting's edges are the
// lexer test's; the program's test shows them beyond).
TEST(XlsxFormulaText, TheSpreadsheetsLimitsOnLengthAndNesting) {
  const auto nested = [](std::size_t depth, std::u16string_view open, std::u16string_view inner) {
    std::u16string text;
    for (std::size_t k = 0; k < depth; ++k) text += open;
    return text + std::u16string(inner) + std::u16string(depth, u')');
  };
  EXPECT_FALSE(BeyondFormulaLimits(std::u16string(8191, u'1'))) << "8,192 with its \"=\"";
  EXPECT_TRUE(BeyondFormulaLimits(std::u16string(8192, u'1')));
  EXPECT_FALSE(BeyondFormulaLimits(nested(64, u"ABS(", u"1")));
  EXPECT_TRUE(BeyondFormulaLimits(nested(65, u"ABS(", u"1")));
}

// The block-wise scans held to their plain twins// The block-wise scans held to their plain twins: each unit that matters, at every place around
// the block boundaries, in text of every length up to three blocks.
TEST(XlsxTextKernel, ScansAgreeWithTheirPlainTwins) {
  const char16_t units[] = {u'a', u' ', u'\n', u'\t', u'\r', 0x1F, u'&', u'<', u'>', 0x7F, 0x80, 0x801F, 0xD7FF, 0xD800, 0xDC00, 0xFFFE};
  for (std::size_t length = 0; length <= 100; ++length)
    for (std::size_t at = 0; at <= length; ++at)
      for (const char16_t unit : units) {
        std::u16string wide(length, u'x');
        std::string narrow(length, 'x');
        if (at < length) wide[at] = unit, narrow[at] = static_cast<char>(unit & 0xFF);
        SCOPED_TRACE(std::to_string(length) + " units, " + std::to_string(unit) + " at " + std::to_string(at));
        ASSERT_EQ(kernel::IsAscii(wide), kernel::IsAsciiPlain(wide));
        ASSERT_EQ(kernel::IsAscii(narrow), kernel::IsAsciiPlain(narrow));
        ASSERT_EQ(kernel::OrdinaryXmlText(wide), kernel::OrdinaryXmlTextPlain(wide));
        for (const std::size_t from : {std::size_t{0}, at - (at > 0 ? 1 : 0), at, std::min(at + 1, length)})
          ASSERT_EQ(kernel::NextToEscape(narrow, from), kernel::NextToEscapePlain(narrow, from)) << "from " << from;
      }
}

// The balance check's several-units-a-step scan held to its plain twin: the lexer's spans.
TEST(XlsxFormulaText, BalanceAgreesWithTheLexersSpans) {
  const auto bySpans = [](std::u16string_view formula) {
    std::int64_t parens = 0;
    for (const lex::Span& s : lex::Lex(formula, u"")) {
      if (s.unclosed || (s.kind == lex::Kind::CloseParen && --parens < 0)) return false;
      if (s.kind == lex::Kind::OpenParen) ++parens;
      if (s.kind == lex::Kind::Text && formula.substr(s.begin, s.end - s.begin).find(u']') != std::u16string_view::npos)
        return false;
    }
    return parens == 0;
  };
  std::vector<std::u16string> texts = {u"=a]", u"=[a", u"=[a[b]]c", u"='a''", u"='a''b'!A1", u"=\"a\"\"", u"=\"(\"&)",
                                       u"=)(", u"=((a)", u"={1,(2)}", u"='[x'!A1+[y']]", u"=T['#]*F(T['#])", u""};
  std::size_t k = 0;
  for (const auto& f : corpus::Sample()) {
    texts.push_back(f.text);
    std::u16string laidOut;  // a line and an indent after each "(", inside literals too
    for (const char16_t c : f.text) laidOut += c == u'(' ? std::u16string(u"(\n       ") : std::u16string(1, c);
    texts.push_back(laidOut);
    if (++k % 97 == 0)  // every cut of some: literals and names left open, parentheses not closed
      for (std::size_t cut = 1; cut < f.text.size(); ++cut) texts.push_back(f.text.substr(0, cut));
  }
  for (const auto& text : texts) ASSERT_EQ(memory::Balanced(text), bySpans(text)) << Utf16ToUtf8(text);
}

}  // namespace
}  // namespace corvane::xlsx
