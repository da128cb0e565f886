// The in-memory workbook, the program's embedded host (the cell of `corvane format`): the formulas
// it refuses as the spreadsheet does. The rest of it is what the command and calibration tests
// drive; their exact results (array blocks, fits, refused calls) depend on it behaving.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "support/corpus.h"

namespace corvane::memory {
namespace {

// Unbalanced parentheses, quotes and brackets (outside literals, quoted names and brackets),
// formulas longer than the version allows and a line break before a whole column are refused,
// the cell kept; constants are not checked.
TEST(MemoryHost, FormulasTheSpreadsheetRefusesLeaveTheCellAsItWas) {
  FixedMeasurer measurer;
  const auto app = MemoryApplication::Create(&measurer);
  const auto sheet = app->AddWorkbook()->Sheet(1);
  const std::u16string longest11 = u"=" + std::u16string(1023, u'1'), longest = u"=" + std::u16string(8191, u'2');
  struct Case {
    std::u16string version, formula;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {u"16.0", u"=SUM(A1", false}, {u"16.0", u"=)(", false}, {u"16.0", u"=\"a\")\"", false},
      {u"16.0", u"='Q1!A1", false}, {u"16.0", u"=Table1[a']", false}, {u"16.0", u"=IF(A1=\")\",1,2)", true},
      {u"16.0", u"='It''s ('!A1", true}, {u"16.0", u"=SUM(Table1[[#This Row],['[x(]])", true},
      {u"16.0", u"SUM(", true}, {u"11.0", longest11, true}, {u"11.0", longest11 + u"1", false},
      {u"16.0", longest, true}, {u"16.0", longest + u"2", false}, {u"16.0", std::u16string(32768, u'x'), false},
      {u"16.0", u"=SUM(\n  A:A)", false}, {u"16.0", u"=SUM(\n  Sheet1!A:A)", true},
  };
  const auto errorOf = [](auto&& call) {  // the run-time error number, 0 for none
    try {
      call();
    } catch (const AutomationError& e) {
      return e.number();
    }
    return std::int32_t{0};
  };
  const std::int32_t refused = err::kApplicationDefined;
  for (const auto& c : cases) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(c.version + u" " + c.formula.substr(0, 40)));
    app->SetVersion(c.version);
    sheet->Range(u"A1")->SetFormula(u"=0");
    EXPECT_EQ(errorOf([&] { sheet->Range(u"A1")->SetFormula(c.formula); }), c.accepted ? 0 : refused);
    EXPECT_EQ(errorOf([&] { sheet->Range(u"B2")->SetFormulaArray(c.formula); }),
              c.accepted && c.formula.starts_with(u"=") ? 0 : refused);
    EXPECT_EQ(sheet->Range(u"A1")->Formula(), c.accepted ? c.formula : u"=0");
  }
}

}  // namespace
}  // namespace corvane::memory
