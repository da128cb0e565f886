#include "platform/posix/font_measurer.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "base/utf8.h"

namespace corvane::posix {

namespace {

struct FcConfigDeleter {
  void operator()(FcConfig* p) const noexcept { FcConfigDestroy(p); }
};
struct FcPatternDeleter {
  void operator()(FcPattern* p) const noexcept { FcPatternDestroy(p); }
};
struct FcFontSetDeleter {
  void operator()(FcFontSet* p) const noexcept { FcFontSetDestroy(p); }
};
struct FtLibraryDeleter {
  void operator()(FT_Library p) const noexcept { FT_Done_FreeType(p); }
};
struct FtFaceDeleter {
  void operator()(FT_Face p) const noexcept { FT_Done_Face(p); }
};
using ConfigPtr = std::unique_ptr<FcConfig, FcConfigDeleter>;
using PatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcFontSetDeleter>;
using LibraryPtr = std::unique_ptr<std::remove_pointer_t<FT_Library>, FtLibraryDeleter>;
using FacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, FtFaceDeleter>;

constexpr char32_t kReplacement = 0xFFFD;

// Next code point of UTF-16 text; a lone surrogate reads as U+FFFD.
// A lone surrogate measures as the replacement character.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  const char32_t cp = utf8::NextCodePoint(text, i);
  return cp >= 0xD800 && cp <= 0xDFFF ? kReplacement : cp;
}

// Face names go to fontconfig as UTF-8. A NUL would end the C string early, so it is dropped.
std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp != 0) utf8::AppendUtf8(out, cp);
  }
  return out;
}

// Family names and file paths come back as UTF-8 (paths are really bytes); anything that does
// not decode becomes U+FFFD, as this text is only shown to the user.
std::u16string FromUtf8(std::string_view bytes) {
  return utf8::Utf8ToUtf16(bytes, [](unsigned char) { return static_cast<char16_t>(kReplacement); });
}

// Joins message parts by appending (which also keeps GCC's -Wrestrict false positive away).
std::u16string Join(std::initializer_list<std::u16string_view> parts) {
  std::u16string out;
  for (const auto part : parts) out.append(part);
  return out;
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// Pixels per em at a size in points and a resolution in dots per inch.
double PixelsPerEm(double points, double dpi) {
  if (!std::isfinite(points) || !std::isfinite(dpi) || points < 0 || dpi < 0) {
    throw AutomationError(err::kInvalidProcedureCall,
                          u"Text cannot be measured at a negative or non-finite font size or resolution.");
  }
  return points * dpi / 72.0;
}

// One opened font file (or one face of a collection) with its advances in design units.
class FontFile {
 public:
  FontFile(FT_Library library, const std::string& path, int index) {
    FT_Face raw = nullptr;
    if (FT_New_Face(library, path.c_str(), index, &raw) != 0 || raw == nullptr) {
      throw AutomationError(err::kDeviceIO, Join({u"FreeType cannot open the font file ", FromUtf8(path), u"."}));
    }
    face_.reset(raw);
    // Symbol fonts have no Unicode map; they keep whatever map FreeType chose.
    FT_Select_Charmap(raw, FT_ENCODING_UNICODE);
    if (FT_IS_SCALABLE(raw) && raw->units_per_EM > 0) {
      loadFlags_ = FT_LOAD_NO_SCALE;  // design units: unhinted and independent of the size
      unitsPerEm_ = raw->units_per_EM;
      lineHeight_ = raw->height;
      if (lineHeight_ <= 0) lineHeight_ = raw->ascender - raw->descender;
    } else if (raw->num_fixed_sizes > 0 && FT_Select_Size(raw, 0) == 0) {
      // A bitmap font: its one strike, scaled linearly like an outline would be.
      loadFlags_ = FT_LOAD_DEFAULT;
      unitsPerEm_ = static_cast<double>(raw->available_sizes[0].y_ppem) / 64.0;
      if (unitsPerEm_ <= 0) unitsPerEm_ = raw->size->metrics.y_ppem;
      lineHeight_ = static_cast<double>(raw->size->metrics.height) / 64.0;
      advanceScale_ = 1.0 / 65536.0;
    }
    if (!(unitsPerEm_ > 0)) {
      throw AutomationError(err::kDeviceIO, Join({u"The font file ", FromUtf8(path), u" has no usable size."}));
    }
    if (!(lineHeight_ > 0)) lineHeight_ = 1.2 * unitsPerEm_;
  }

  double unitsPerEm() const noexcept { return unitsPerEm_; }
  double lineHeightUnits() const noexcept { return lineHeight_; }

  // Advance of `cp` in design units, or nothing when the font has no glyph for it.
  std::optional<double> Advance(char32_t cp) {
    if (const auto it = advances_.find(cp); it != advances_.end()) {
      if (it->second < 0) return std::nullopt;
      return it->second;
    }
    const FT_UInt glyph = FT_Get_Char_Index(face_.get(), cp);
    const double advance = glyph == 0 ? -1.0 : GlyphAdvance(glyph);
    advances_.emplace(cp, advance);
    if (advance < 0) return std::nullopt;
    return advance;
  }

  // Advance of the missing-character glyph (glyph 0) in design units.
  double NotdefAdvance() {
    if (!notdef_) notdef_ = std::max(0.0, GlyphAdvance(0));
    return *notdef_;
  }

 private:
  double GlyphAdvance(FT_UInt glyph) {
    FT_Fixed advance = 0;
    if (FT_Get_Advance(face_.get(), glyph, loadFlags_, &advance) != 0) {
      throw AutomationError(err::kDeviceIO, Join({u"FreeType cannot read a glyph advance of the font ",
                                                  FromUtf8(face_->family_name ? face_->family_name : ""), u"."}));
    }
    return static_cast<double>(advance) * advanceScale_;
  }

  FacePtr face_;
  FT_Int32 loadFlags_ = FT_LOAD_NO_SCALE;
  double unitsPerEm_ = 0;
  double lineHeight_ = 0;
  double advanceScale_ = 1.0;
  std::optional<double> notdef_;
  std::unordered_map<char32_t, double> advances_;  // negative: the font lacks the character
};

// A face name as fontconfig resolved it, with the advance in ems of every character seen so far
// (from the font itself, a fallback font or the missing glyph).
struct ResolvedFont {
  static constexpr std::size_t kPageSize = 256;
  static constexpr std::size_t kPageCount = 0x110000 / kPageSize;
  using Page = std::array<double, kPageSize>;  // NaN: not measured yet

  FontFile* primary = nullptr;
  PatternPtr pattern;  // after substitution; orders the fallback fonts
  FontSetPtr fallbacks;
  bool fallbacksLoaded = false;
  std::u16string description;
  std::u16string standIn;  // see FontMeasurer::StandIn
  std::array<std::unique_ptr<Page>, kPageCount> pages;

  double* Slot(char32_t cp) {
    auto& page = pages[cp / kPageSize];
    if (!page) {
      page = std::make_unique<Page>();
      page->fill(std::numeric_limits<double>::quiet_NaN());
    }
    return &(*page)[cp % kPageSize];
  }
};

}  // namespace

struct FontMeasurer::Impl {
  ConfigPtr config;
  LibraryPtr library;
  // Declared after the library so that every face is closed before FreeType shuts down.
  // A null entry remembers a file that could not be opened.
  std::map<std::pair<std::string, int>, std::unique_ptr<FontFile>> files;
  std::map<std::u16string, std::unique_ptr<ResolvedFont>, std::less<>> fonts;
  std::u16string lastName;
  ResolvedFont* lastFont = nullptr;

  Impl() {
    config.reset(FcInitLoadConfigAndFonts());
    if (!config) throw AutomationError(err::kApplicationDefined, u"fontconfig cannot load its configuration.");
    FT_Library raw = nullptr;
    if (FT_Init_FreeType(&raw) != 0 || raw == nullptr) {
      throw AutomationError(err::kApplicationDefined, u"FreeType cannot be started.");
    }
    library.reset(raw);
  }

  FontFile& Open(const std::string& path, int index) {
    auto& slot = files[{path, index}];
    if (!slot) slot = std::make_unique<FontFile>(library.get(), path, index);
    return *slot;
  }

  // For fallback fonts: one that cannot be opened is skipped, now and later.
  FontFile* TryOpen(const std::string& path, int index) {
    const auto key = std::make_pair(path, index);
    if (const auto it = files.find(key); it != files.end()) return it->second.get();
    try {
      return &Open(path, index);
    } catch (const AutomationError&) {
      files[key] = nullptr;
      return nullptr;
    }
  }

  ResolvedFont& Resolve(std::u16string_view face) {
    if (lastFont != nullptr && face == lastName) return *lastFont;
    auto it = fonts.find(face);
    if (it == fonts.end()) it = fonts.emplace(std::u16string(face), Load(face)).first;
    lastName = it->first;
    lastFont = it->second.get();
    return *lastFont;
  }

  std::unique_ptr<ResolvedFont> Load(std::u16string_view face) {
    auto font = std::make_unique<ResolvedFont>();
    font->pattern.reset(FcPatternCreate());
    if (!font->pattern) throw AutomationError(err::kApplicationDefined, u"fontconfig is out of memory.");
    // The name is taken literally (no FcNameParse), so characters such as ':' or '-' stay part of it.
    const std::string family = ToUtf8(face);
    if (!family.empty()) {
      FcPatternAddString(font->pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    }
    FcConfigSubstitute(config.get(), font->pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(font->pattern.get());

    FcResult result = FcResultNoMatch;
    const PatternPtr match(FcFontMatch(config.get(), font->pattern.get(), &result));
    FcChar8* file = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
      throw AutomationError(err::kFileNotFound,
                            Join({u"No font found for \"", face, u"\": fontconfig knows no installed font."}));
    }
    int index = 0;
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
    const std::string path = reinterpret_cast<const char*>(file);
    font->primary = &Open(path, index);

    FcChar8* matchedFamily = nullptr;
    std::u16string& description = font->description;
    if (FcPatternGetString(match.get(), FC_FAMILY, 0, &matchedFamily) == FcResultMatch && matchedFamily != nullptr) {
      description.append(FromUtf8(reinterpret_cast<const char*>(matchedFamily))).append(u" ");
    }
    description.append(u"(").append(FromUtf8(path));
    if (index != 0) description.append(u", face ").append(Ascii(std::to_string(index)));
    description.append(u")");
    if (!family.empty() && !ServedAsItself(font->pattern.get(), match.get(), family))
      font->standIn = FromUtf8(reinterpret_cast<const char*>(matchedFamily));
    return font;
  }

  // Whether the match is the family asked for (by one of its names), or a substitute that the
  // configuration binds to that name: fontconfig's own defaults (sans-serif, then DejaVu Sans)
  // are weakly bound, the metric-compatible aliases are not.
  static bool ServedAsItself(FcPattern* asked, FcPattern* match, const std::string& family) {
    const auto* name = reinterpret_cast<const FcChar8*>(family.c_str());
    FcChar8* matched = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &matched) == FcResultMatch; ++i)
      if (FcStrCmpIgnoreCase(matched, name) == 0) return true;
    if (FcPatternGetString(match, FC_FAMILY, 0, &matched) != FcResultMatch) return true;
    FcValue value;
    FcValueBinding binding = FcValueBindingWeak;
    for (int i = 0; FcPatternGetWithBinding(asked, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i)
      if (value.type == FcTypeString && binding != FcValueBindingWeak && FcStrCmpIgnoreCase(value.u.s, matched) == 0)
        return true;
    return false;
  }

  // The first font in fontconfig's fallback order that has `cp`, or null when none has it.
  FontFile* FallbackFor(ResolvedFont& font, char32_t cp) {
    if (!font.fallbacksLoaded) {
      font.fallbacksLoaded = true;
      FcResult result = FcResultNoMatch;
      font.fallbacks.reset(FcFontSort(config.get(), font.pattern.get(), FcTrue, nullptr, &result));
    }
    if (!font.fallbacks) return nullptr;
    for (int i = 0; i < font.fallbacks->nfont; ++i) {
      FcPattern* candidate = font.fallbacks->fonts[i];
      FcCharSet* charset = nullptr;
      FcChar8* file = nullptr;
      if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &charset) != FcResultMatch || !FcCharSetHasChar(charset, cp) ||
          FcPatternGetString(candidate, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
        continue;
      }
      int index = 0;
      FcPatternGetInteger(candidate, FC_INDEX, 0, &index);
      FontFile* fallback = TryOpen(reinterpret_cast<const char*>(file), index);
      if (fallback != nullptr && fallback->Advance(cp)) return fallback;
    }
    return nullptr;
  }

  // Advance of `cp` in ems of the resolved font.
  double EmAdvance(ResolvedFont& font, char32_t cp) {
    double* slot = font.Slot(cp);
    if (!std::isnan(*slot)) return *slot;
    double ems = 0;
    if (const auto own = font.primary->Advance(cp)) {
      ems = *own / font.primary->unitsPerEm();
    } else if (FontFile* fallback = FallbackFor(font, cp)) {
      ems = *fallback->Advance(cp) / fallback->unitsPerEm();
    } else {
      ems = font.primary->NotdefAdvance() / font.primary->unitsPerEm();
    }
    *slot = ems;
    return ems;
  }
};

FontMeasurer::FontMeasurer() = default;

FontMeasurer::~FontMeasurer() = default;

FontMeasurer::Impl& FontMeasurer::Loaded() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

double FontMeasurer::LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) {
  const double pixelsPerEm = PixelsPerEm(points, dpi);
  Impl& impl = Loaded();
  ResolvedFont& font = impl.Resolve(face);
  double ems = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp < 0x20) continue;  // line feeds and other controls take no room on the line
    ems += impl.EmAdvance(font, cp);
  }
  return ems * pixelsPerEm;
}

double FontMeasurer::LineHeightPixels(std::u16string_view face, double points, double dpi) {
  const double pixelsPerEm = PixelsPerEm(points, dpi);
  const FontFile& primary = *Loaded().Resolve(face).primary;
  return primary.lineHeightUnits() / primary.unitsPerEm() * pixelsPerEm;
}

std::u16string FontMeasurer::ResolvedFace(std::u16string_view face) { return Loaded().Resolve(face).description; }

std::u16string FontMeasurer::StandIn(std::u16string_view face) { return Loaded().Resolve(face).standIn; }

}  // namespace corvane::posix
