// Layout: turns a one-line formula into indented lines, for the cell or for a text editor.
// Contract of cls_corvane::LayoutFormula (inputs: strFormula, iLenFormula, strCharArray =
// PopulateCharArray of strFormula, strListSeparator, bFormatAllParens, SpacingArray,
// bSendToNotepad, strAfterParen; it reads the characters from strFormula, which of them are
// syntax from the lexer (formatting/lexer.h), and needs the table only to cover the formula):
//  - A syntactic "(" opens a level (a line break, then the indentation that reaches
//    strAfterParen's end), unless it is half of an empty pair "()" or, with bFormatAllParens off,
//    it is kept inline: right after + - * / ^, or inside an inline group once an operator or a
//    ")" has come since the group's last "(" or separator. Every syntactic argument separator
//    ends its line. A level's ")" gets a line of its own under its "(", and what follows it
//    starts a new line, except a separator, which joins the ")".
//  - Level widths come from GetSpacingThisLevel on the line's text (measured only when a level
//    or an inline group opens), indentation from their running sum, rounded ties to even.
//  - Names are never broken: every character of a string literal, a quoted sheet name or a
//    bracketed name, as the lexer reads them, is an ordinary character here, though CheckChar
//    itself still classifies parentheses and separators of names as syntax (and those after a
//    double quote inside a sheet name as text of a literal).
//  - The result is exactly what rebuilding the whole output from two snapshots per character
//    gives, trailing spaces of the last line included, but in time linear in the output.
//  - Failures throw AutomationError (the formulate command's trap catches them): a ")" with no
//    "(" before it, a "(" entry of SpacingArray that is no number at the first level close, a
//    negative indentation, a formula or table shorter than iLenFormula.
//  - Afterwards iItem, iIndentSpaces, strIndent, strPrevIndent and the copies strCurrentChar,
//    strPrevChar, strNextChar hold what the last character left in them.
// cls_corvane::RemoveSpacesInLastLine(str) returns str without the spaces (code 32 only) at its
// end; it never fails on a text.
#pragma once

#include "addin/cls_corvane.h"
