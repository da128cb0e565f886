// The README's picture of a layout: laid-out cell texts side by side, each under its heading,
// drawn in the spreadsheet's font as the cell shows them, into a grey-scale PNG.
// scripts/layout-picture makes the texts with the program and runs this.
//
//   layout_picture --font TEXT.ttf --heading-font BOLD.ttf --out OUT.png [--scale S]
//                  --column HEADING TEXT.txt [--guide N] [--column HEADING TEXT.txt [--guide N]]...
//
// Every character, spaces included, advances by its unhinted width at 11 pt and 96 × S dpi (the
// widths the calibration measures, in pixels), summed without rounding, so that a continuation
// line's spaces end where the layout measured them to end. --guide N draws a faint line N widths
// of "0" right of its column's start (the "Fit Width" limit). A text file's last line feed (the
// one the program prints after the cell) is dropped. The same inputs give the same bytes.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"

namespace {

constexpr double kPoints = 11.0;  // the spreadsheet's standard font size
constexpr double kDpi = 96.0;
constexpr std::uint8_t kPaper = 255, kInk = 0, kHeadingInk = 40, kRule = 200, kGuide = 215, kNote = 120;

// A font at one size: advances in pixels from the design units, glyphs rendered unhinted.
class Face {
 public:
  Face(FT_Library library, const std::string& path, double pixelsPerEm) : ppem_(pixelsPerEm) {
    if (FT_New_Face(library, path.c_str(), 0, &face_) != 0) throw std::runtime_error("FreeType cannot open " + path);
    if (!FT_IS_SCALABLE(face_)) throw std::runtime_error(path + " is not a scalable font");
    FT_Select_Charmap(face_, FT_ENCODING_UNICODE);
    FT_Set_Char_Size(face_, 0, std::lround(pixelsPerEm * 64.0), 72, 72);
  }
  ~Face() { FT_Done_Face(face_); }
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;

  double Scale() const { return ppem_ / face_->units_per_EM; }
  double Advance(char32_t cp) const {
    FT_Fixed units = 0;
    FT_Get_Advance(face_, FT_Get_Char_Index(face_, cp), FT_LOAD_NO_SCALE, &units);
    return static_cast<double>(units) * Scale();
  }
  double Ascender() const { return face_->ascender * Scale(); }
  double LineHeight() const { return face_->height * Scale(); }
  FT_Face get() const { return face_; }

 private:
  FT_Face face_ = nullptr;
  double ppem_;
};

std::u32string Decode(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto d = corvane::utf8::DecodeUtf8(text, i);
    if (d.error != corvane::utf8::Error::None) throw std::runtime_error("a text is not UTF-8");
    out.push_back(d.codePoint);
    i += d.length;
  }
  return out;
}

double Width(const Face& face, std::u32string_view text) {
  double width = 0;
  for (const char32_t cp : text) width += face.Advance(cp);
  return width;
}

class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kPaper) {}

  // Ink over the paper by the coverage (0 to 255); the darker of the two stays.
  void Blend(int x, int y, unsigned coverage, std::uint8_t ink) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || coverage == 0) return;
    std::uint8_t& pixel = pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
    const unsigned value = (kPaper * (255 - coverage) + ink * coverage + 127) / 255;
    pixel = std::min(pixel, static_cast<std::uint8_t>(value));
  }
  void Fill(int x0, int y0, int x1, int y1, std::uint8_t ink) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Blend(x, y, 255, ink);
  }

  // `text` from pen position x on the baseline; each glyph placed at its exact fractional position.
  void Text(const Face& face, std::u32string_view text, double x, int baseline, std::uint8_t ink) {
    const FT_Face f = face.get();
    for (const char32_t cp : text) {
      const double left = std::floor(x);
      FT_Vector shift{std::lround((x - left) * 64.0), 0};
      FT_Set_Transform(f, nullptr, &shift);
      if (FT_Load_Glyph(f, FT_Get_Char_Index(f, cp), FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
          FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL) == 0) {
        const FT_Bitmap& bitmap = f->glyph->bitmap;
        for (unsigned row = 0; row < bitmap.rows; ++row)
          for (unsigned column = 0; column < bitmap.width; ++column)
            Blend(static_cast<int>(left) + f->glyph->bitmap_left + static_cast<int>(column),
                  baseline - f->glyph->bitmap_top + static_cast<int>(row),
                  bitmap.buffer[static_cast<std::ptrdiff_t>(row) * bitmap.pitch + column], ink);
      }
      x += face.Advance(cp);
    }
    FT_Set_Transform(f, nullptr, nullptr);
  }

  // Grey-scale PNG: each row filtered with "Up" (text repeats little across rows, paper much).
  std::string Png() const {
    std::string raw;
    const auto w = static_cast<std::size_t>(width_);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height_); ++y) {
      raw += '\x02';
      for (std::size_t x = 0; x < w; ++x)
        raw += static_cast<char>(pixels_[y * w + x] - (y > 0 ? pixels_[(y - 1) * w + x] : 0));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
      throw std::runtime_error("zlib cannot compress the picture");
    packed.resize(packedSize);
    std::string header;
    for (const std::uint32_t v : {static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_)}) Put32(header, v);
    header += std::string("\x08\x00\x00\x00\x00", 5);  // 8 bits, grey, deflate, no interlace
    return std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", header) + Chunk("IDAT", packed) + Chunk("IEND", "");
  }

 private:
  static void Put32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  }
  static std::string Chunk(const char* type, const std::string& data) {
    std::string out;
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    Put32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    return out;
  }

  int width_;
  int height_;
  std::vector<std::uint8_t> pixels_;
};

struct Column {
  std::u32string heading;
  std::vector<std::u32string> lines;
  std::optional<int> guide;  // widths of "0"
  double left = 0;
  double width = 0;
};

std::vector<std::u32string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::vector<std::u32string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(Decode(line));
  if (text.empty() || text.back() == '\n') lines.emplace_back();
  return lines;
}

std::u32string GuideNote(int widths) { return Decode(std::to_string(widths) + " \xC3\x97 \xE2\x80\x9C" "0\xE2\x80\x9D"); }

int Main(int argc, char** argv) {
  std::string fontPath, headingPath, outPath;
  double scale = 1;
  std::vector<Column> columns;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto value = [&] {
      if (i + 1 >= args.size()) throw std::runtime_error(args[i] + " needs a value");
      return args[++i];
    };
    if (args[i] == "--font") {
      fontPath = value();
    } else if (args[i] == "--heading-font") {
      headingPath = value();
    } else if (args[i] == "--out") {
      outPath = value();
    } else if (args[i] == "--scale") {
      scale = std::stod(value());
    } else if (args[i] == "--column") {
      Column column;
      column.heading = Decode(value());
      column.lines = ReadLines(value());
      columns.push_back(std::move(column));
    } else if (args[i] == "--guide" && !columns.empty()) {
      columns.back().guide = std::stoi(value());
    } else {
      throw std::runtime_error("unexpected argument " + args[i]);
    }
  }
  if (fontPath.empty() || headingPath.empty() || outPath.empty() || columns.empty() || !(scale > 0 && scale <= 8))
    throw std::runtime_error(
        "usage: layout_picture --font TEXT.ttf --heading-font BOLD.ttf --out OUT.png [--scale S] "
        "--column HEADING TEXT.txt [--guide N]...");

  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) throw std::runtime_error("FreeType cannot start");
  const double ppem = kPoints * kDpi * scale / 72.0;
  std::string png;
  {
    const Face text(library, fontPath, ppem), heading(library, headingPath, ppem), note(library, fontPath, ppem * 0.8);
    const double margin = std::round(16 * scale), gap = std::round(48 * scale);
    const double lineHeight = std::round(text.LineHeight());
    const double headingBaseline = margin + std::round(heading.Ascender());
    const double rule = headingBaseline + std::round(8 * scale);
    const double top = rule + std::round(10 * scale);
    std::size_t rows = 0;
    double x = margin;
    for (Column& column : columns) {
      column.left = x;
      column.width = Width(heading, column.heading);
      for (const auto& line : column.lines) column.width = std::max(column.width, Width(text, line));
      if (column.guide)
        column.width = std::max(column.width, *column.guide * text.Advance(U'0') + 4 * scale + Width(note, GuideNote(*column.guide)));
      rows = std::max(rows, column.lines.size());
      x += std::ceil(column.width) + gap;
    }
    const double bottom = top + static_cast<double>(rows) * lineHeight;
    Canvas canvas(static_cast<int>(x - gap + margin), static_cast<int>(bottom + margin));
    for (const Column& column : columns) {
      canvas.Text(heading, column.heading, column.left, static_cast<int>(headingBaseline), kHeadingInk);
      canvas.Fill(static_cast<int>(column.left), static_cast<int>(rule), static_cast<int>(column.left + std::ceil(column.width)),
                  static_cast<int>(rule + std::max(1.0, std::round(scale))), kRule);
      if (column.guide) {
        const double at = std::round(column.left + *column.guide * text.Advance(U'0'));
        canvas.Fill(static_cast<int>(at), static_cast<int>(top), static_cast<int>(at + std::max(1.0, std::round(scale))),
                    static_cast<int>(bottom), kGuide);
        canvas.Text(note, GuideNote(*column.guide), at + 4 * scale, static_cast<int>(top + std::round(note.Ascender())), kNote);
      }
      double baseline = top + std::round(text.Ascender());
      for (const auto& line : column.lines) {
        canvas.Text(text, line, column.left, static_cast<int>(baseline), kInk);
        baseline += lineHeight;
      }
    }
    png = canvas.Png();
  }
  FT_Done_FreeType(library);
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + outPath);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "layout_picture: %s\n", e.what());
    return 1;
  }
}
