// Unformat: takes the layout out of a formula, and the command that does it to the active cell.
// Contract of Unformat(formula):
//  - String literals, quoted sheet names and bracketed names (structured references and workbook
//    names, whose names may hold spaces and line feeds), as the lexer (formatting/lexer.h) reads
//    them, are kept as they are.
//  - Elsewhere every line feed goes, and every space of a run of spaces that touches one: that is
//    the layout's indentation. Any other run of spaces goes too, unless it is the intersection
//    operator: the character before it can end a reference and the one after can start one.
//  - Removal never joins two double quotes or two apostrophes (that would turn two literals or
//    names into one); such a stretch is kept whole.
//  - Carriage returns, tabs and non-breaking spaces are always kept. The result is stable:
//    unformatting it again changes nothing. It never fails.
// RemoveLineBreaks(formula) takes out only the line feeds and the runs of spaces that touch one,
// by the same rules: the layout a formula already has, so that laying it out again gives the
// same text. Every other space stays.
// DeformulateCell applies it to the host's active cell or its array block, keeping each cell's
// text wrapping; a cell holding a constant is left untouched. It never fails its caller.
// cls_corvane::cvDeformulateCell runs it on the held host.
#pragma once

#include <string>
#include <string_view>

#include "base/automation.h"
#include "base/host.h"

namespace corvane {

std::u16string Unformat(std::u16string_view formula);
std::u16string RemoveLineBreaks(std::u16string_view formula);
// Whether two formulas differ only by their layout: Unformat gives the same text for both.
bool SameButLayout(std::u16string_view a, std::u16string_view b);
void DeformulateCell(HostApplication& host) noexcept;

}  // namespace corvane
