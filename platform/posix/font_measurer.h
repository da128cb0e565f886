// Text measurement on POSIX with fontconfig and FreeType.
// Contract: a face name resolves the way fontconfig resolves it for any program (substitution
// rules, then the best match), so "Calibri" is served by a metric-compatible substitute where one
// is installed. Widths are the sum of unhinted design advances scaled to the size, without
// kerning and without rounding; the caller rounds. A character the font lacks takes its advance
// from the first font of fontconfig's fallback order that has it, else the font's missing-glyph
// advance. Characters below U+0020 are zero wide (one line is measured at a time). A lone
// surrogate counts as U+FFFD. Faces and per-character advances are cached for the measurer's
// lifetime. fontconfig's configuration is loaded and FreeType started at the first measurement,
// not before: most runs of the program measure nothing (the widths are in the store), and the
// loading costs more than laying out a formula. Failures (no configuration, no font at all, an
// unreadable font file, a negative or non-finite size) throw AutomationError from the call that
// meets them. Not thread-safe: one measurer belongs to one thread (the UI thread).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace corvane::posix {

class FontMeasurer final : public TextMeasurer {
 public:
  FontMeasurer();
  ~FontMeasurer() override;
  FontMeasurer(const FontMeasurer&) = delete;
  FontMeasurer& operator=(const FontMeasurer&) = delete;

  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override;
  double LineHeightPixels(std::u16string_view face, double points, double dpi) override;
  // Family and file of the font that serves `face`, e.g. "Carlito (/usr/share/fonts/.../Carlito-Regular.ttf)".
  std::u16string ResolvedFace(std::u16string_view face) override;
  // The family that measures in place of `face` when no font of that name is installed and the
  // configuration binds no substitute to the name (as it binds Carlito to Calibri, measuring
  // alike); empty when the face is served as itself or by such a substitute.
  std::u16string StandIn(std::u16string_view face);

 private:
  struct Impl;
  Impl& Loaded();  // throws AutomationError when fontconfig or FreeType cannot be started
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::posix
