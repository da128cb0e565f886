#include <gtest/gtest.h>

#include "support/run_cli.h"

namespace corvane {
namespace {

using testing::RunCli;

TEST(CliUnformat, PrintsTheOneLineFormula) {
  const auto r = RunCli({"unformat", "=IF(\n   A1,\n   SUM(\n      B1,\n      C1\n   ),\n   0\n)\n   "});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=IF(A1,SUM(B1,C1),0)\n");
}

TEST(CliUnformat, ReadsStandardInputWithoutItsLastLineFeed) {
  for (const auto& args : {std::vector<std::string>{"unformat"}, std::vector<std::string>{"unformat", "-"}}) {
    const auto r = RunCli(args, "=SUM(\n  \"a b\",\n  'My Sheet'!A1\n)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "=SUM(\"a b\",'My Sheet'!A1)\n");
  }
}

// An apostrophe inside brackets escapes one character ("Item #" columns): it opens no sheet name
// that would keep the rest of the layout.
TEST(CliUnformat, ApostropheEscapesInsideBracketsEndWithTheirBracket) {
  const auto r = RunCli({"unformat", "-"}, "=SUM(\n   Table1['#Items],\n   A1 + 1\n)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=SUM(Table1['#Items],A1+1)\n");
}

TEST(CliUnformat, ConstantsAndIntersectionsStayAsTheyAre) {
  EXPECT_EQ(RunCli({"unformat", "a (b) c"}).out, "a (b) c\n");
  EXPECT_EQ(RunCli({"unformat", "=A1:B5 B2:C3"}).out, "=A1:B5 B2:C3\n");
  EXPECT_EQ(RunCli({"unformat", "=€ + é"}).out, "=€+é\n");  // UTF-8 both ways
}

TEST(CliUnformat, BadInputIsRefusedWithStatusTwo) {
  const auto invalid = RunCli({"unformat"}, "=\xC0\xAF");  // overlong encoding of "/"
  EXPECT_EQ(invalid.status, 2);
  EXPECT_NE(invalid.err.find("not valid UTF-8"), std::string::npos) << invalid.err;
  EXPECT_EQ(invalid.out, "");
  EXPECT_EQ(RunCli({"unformat", "--bogus"}).status, 2);
  EXPECT_EQ(RunCli({"unformat", "=A1", "=B1"}).status, 2);
  const auto unbalanced = RunCli({"unformat", "=SUM((1)"});
  EXPECT_EQ(unbalanced.status, 2);
  EXPECT_NE(unbalanced.err.find("does not accept"), std::string::npos) << unbalanced.err;
  EXPECT_EQ(RunCli({"frobnicate"}).status, 2);
}

TEST(CliUnformat, JsonLinesGiveOneObjectPerLineInOrder) {
  const auto r = RunCli({"unformat", "--jsonl"},
                        "\"=SUM(\\n 1, 2)\"\n\"=A1  +  B1\"\n  \"x y\"  \n\"=\\ud83d\\ude00 + \\u00e9\"\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"cell\":\"=SUM(1,2)\"}\n{\"cell\":\"=A1+B1\"}\n{\"cell\":\"x y\"}\n"
            "{\"cell\":\"=\xF0\x9F\x98\x80+\xC3\xA9\"}\n");
  // A lone surrogate cannot be written as UTF-8: it comes back escaped, not mangled.
  EXPECT_EQ(RunCli({"unformat", "--jsonl"}, "\"=\\ud800 + 1\"\n").out, "{\"cell\":\"=\\ud800+1\"}\n");
  const auto bad = RunCli({"unformat", "--jsonl"}, "\"=1\"\nnot json\n");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("line 2"), std::string::npos) << bad.err;
}

TEST(CliUnformat, HelpPathEndsInTheHelpFileName) {
  const auto r = RunCli({"help-path"});
  EXPECT_EQ(r.status, 0);
  ASSERT_GE(r.out.size(), 13u);
  EXPECT_EQ(r.out.substr(r.out.size() - 13), "/corvane.chm\n");
  EXPECT_EQ(RunCli({"--help"}).status, 0);
}

}  // namespace
}  // namespace corvane
