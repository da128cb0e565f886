// Layout: turns a one-line formula into indented lines, for the cell or for a text editor.
// Contract of layout::Layout(formula, options, widths):
//  - A syntactic "(" opens a level (a line break, then the indentation that reaches the end of
//    options.afterParen), unless it is half of an empty pair "()" or, with allParens off, it is
//    kept inline: right after + - * / ^, or inside an inline group once an operator or a ")" has
//    come since the group's last "(" or separator. Every syntactic argument separator (the list
//    separator, when it is one code unit) ends its line. A level's ")" gets a line of its own
//    under its "(", and what follows it starts a new line, except a separator, a "(" or an
//    intersection operator (a run of spaces, lex::IsIntersection) with the operand after it,
//    which join the ")"'s line; an intersection after an empty pair stays on its line too.
//  - Level widths are the widths of the line's text up to its "(" (and afterParen), measured only
//    when a level or an inline group opens: for the text file its number of code units, for the
//    cell the sum of `widths` in order, which ends at an entry that is no number; a line holding
//    a special character (code 768 and above) is measured whole by options.specialLine (without
//    one its sum ends there too). Indentation is their running sum, rounded ties to even. A line
//    that starts elsewhere than its level's indentation (a level's ")" line, an inline ")" moved
//    under its "(") counts the difference as spaces before its text. An inline group's ")" that
//    would begin a line goes under its "(", measured from the start of the output line.
//  - Names are never broken: every character of a string literal, a quoted sheet name, a
//    bracketed name or an array constant, as the lexer reads them (formatting/lexer.h), is an
//    ordinary character.
//  - Level closes in a row each take one line; the last line of a layout that ends with a level's
//    ")" holds that parenthesis's indentation. Time and memory are linear in the output, which is
//    handed out without a copy. Spaces and line feeds of the formula are ordinary characters:
//    the formulate command takes an earlier layout out first (RemoveLineBreaks).
//  - With options.fitWidth above 0, a level whose whole text from its "(" to its ")", with what
//    must follow the ")" on its line (up to the next separator, "(" or enclosing ")"), fits on
//    the current line is written there without breaks, as an inline group; the limit is
//    fitWidth characters for the text file, fitWidth widths of "0" for the cell. Levels are
//    decided outermost first; one that does not fit is broken as without the option. In a broken
//    LET level each name shares its line with its value (after one space) when both fit.
//  - Failures throw AutomationError: a ")" with no "(" before it (9), a "(" width that is no
//    number at the first level close (the failure its conversion gave), an indentation that is
//    negative (5) or beyond 32 bits (6).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/lexer.h"
#include "spacing/spacing_model.h"

namespace corvane::layout {

enum class Destination { Cell, TextFile };

struct Options {
  bool allParens = false;  // "Format All Parens": no group is kept inline
  Destination destination = Destination::Cell;
  std::u16string_view listSeparator;
  std::u16string_view afterParen;  // the room a level's lines leave after its "("
  // The width of a line for the cell that holds a special character, which the table cannot
  // give (the add-in reads it from the store, or measures it).
  std::function<double(std::u16string_view line)> specialLine;
  // "Fit Width": the widest a line may be, in widths of "0"; 0 breaks every level.
  std::int32_t fitWidth = 0;
};

// The lists a fitted layout works in. A caller that lays out one formula after another keeps one
// and hands it to each run, so that a long formula's lists are not made, and their pages not
// faulted in, anew every time; what they hold between runs means nothing.
struct FitLists {
  std::vector<std::uint32_t> partner;
  std::vector<double> sum;
  std::vector<std::uint32_t> unsummed;
  std::vector<lex::Span> spans;
  std::vector<std::uint32_t> open;
};

// `closeFollows`: a ")" stands after the formula, so that a "(" at its end is half of an empty pair.
std::u16string Layout(std::u16string_view formula, const Options& options, const spacing::Widths& widths,
                      FitLists* lists = nullptr, bool closeFollows = false);

}  // namespace corvane::layout
