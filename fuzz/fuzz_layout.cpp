// The layout, for the cell and for a text editor, with "Format All Parens" on and off, over
// arbitrary formulas and width tables (entries that are no number, such as "Not Found", zero,
// negative or huge widths, special characters measured through the store).
// Input: 8 header bytes (flags; three pairs of code and width kind), then the formula.
// Properties, beyond failing only with AutomationError:
//  - the output is the input with only line feeds and spaces added, except for spaces removed
//    right before a closing parenthesis;
//  - it holds at most three more line feeds per "(" plus one per separator than the input;
//  - for an input without spaces and line feeds of its own (and a separator that is neither a
//    quote nor an apostrophe), unformatting the output gives the input back, and so does taking
//    the line breaks out (what the formulate command does before it lays a formula out again);
//  - with "," or ";" as the separator, unformatting the output gives what unformatting the input
//    gives, whatever spaces the input holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "base/platform.h"
#include "formatting/layout.h"
#include "formatting/unformat.h"
#include "fuzz_input.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"

using namespace corvane;

namespace {

// The store and host that special characters are measured with.
struct World {
  MemoryStore store;
  memory::FixedMeasurer measurer;
  ScopedServices scoped{[this] {
    PlatformServices s;
    s.store = &store;
    s.textMeasurer = &measurer;
    return s;
  }()};
  std::shared_ptr<memory::MemoryApplication> app = memory::MemoryApplication::Create(&measurer);
};

Variant WidthOfKind(unsigned kind, char16_t code) {
  const Variant kinds[] = {Variant(u"Not Found"), Variant(u"0.5"), Variant(u"0"), Variant(u"-3.25"), Variant(u"1e300"), Variant(u""),
                           Variant(u"abc"), Variant(std::int32_t{1}), Variant(), Variant(2.5), Variant(u"1,5")};
  return kind % 12 < 11 ? kinds[kind % 12] : Variant(memory::FixedMeasurer::BaseWidth(code) / 3.0);
}

std::size_t Count(std::u16string_view s, char16_t c) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), c)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 8;
  if (size <= kHeader) return 0;
  static World world;
  const unsigned flags = data[0];
  const std::u16string formula = fuzzing::TextOf(data, size, kHeader);

  cls_corvane addin;
  ObjectRef ref = world.app;
  addin.SetExcelApp(ref);
  const bool notepad = (flags & 1) != 0;
  addin.bSendToNotepad = notepad;
  addin.bFormatAllParens = (flags & 2) != 0;
  addin.strAfterParen.assign(notepad ? 2 : 7, u' ');
  const char16_t separators[] = {u',', u';', u'\\', u'.'};
  addin.strListSeparator.assign(1, separators[(flags >> 2) & 3]);
  for (std::int32_t k = 2; k <= 767; ++k)
    addin.SpacingArray.at(k) = (flags & 16) ? Variant(std::int32_t{1}) : WidthOfKind(11, static_cast<char16_t>(k));
  const char16_t interesting[] = {u'(', u')', u',', u'=', u'A', u'"', u'\'', u' ', u'[', u'S'};
  for (std::size_t p = 0; p < 3; ++p) {
    const unsigned codeByte = data[1 + 2 * p];
    const char16_t code = (codeByte & 0x80) ? interesting[codeByte % 10] : static_cast<char16_t>(2 + (codeByte * 7) % 766);
    addin.SpacingArray.at(code) = WidthOfKind(data[2 + 2 * p], code);
  }

  addin.strFormula = formula;
  addin.iLenFormula = static_cast<std::int32_t>(formula.size());
  Variant text(addin.strFormula), length(addin.iLenFormula);
  const Variant table = addin.PopulateCharArray(text, length);
  addin.strCharArray = table.isEmpty() ? StringTable() : table.table();
  std::u16string out;
  try {
    out = addin.LayoutFormula();
  } catch (const AutomationError&) {
    return 0;  // the command's trap ends it quietly; nothing was written
  }
  const auto broken = [&](const char* what) { fuzzing::Broken(what, formula, out); };
  if (!fuzzing::OnlyBreaksAdded(formula, out, true)) broken("the layout changed more than spaces and line feeds");
  if (Count(out, u'\n') - Count(formula, u'\n') > 3 * Count(formula, u'(') + Count(formula, addin.strListSeparator[0]))
    broken("too many line feeds");
  if (formula.find_first_of(u" \n") == std::u16string::npos) {
    if (Unformat(out) != formula) broken("unformat after the layout does not give the input back");
    if (RemoveLineBreaks(out) != formula) broken("taking the line breaks out does not give the input back");
  } else if ((addin.strListSeparator == u"," || addin.strListSeparator == u";") && formula.find(u'\n') == std::u16string::npos &&
             Unformat(out) != Unformat(formula)) {
    broken("unformat after the layout differs from unformat alone");
  }
  return 0;
}
