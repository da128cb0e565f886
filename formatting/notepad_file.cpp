#include "formatting/notepad_file.h"

namespace corvane::notepad {

namespace {

constexpr std::int32_t kBadFileName = 75;  // path/file access error

// A piece of the file name that could make it leave its folder (or cut it short).
bool LeavesFolder(std::u16string_view piece) {
  return piece.find_first_of(std::u16string_view(u"/\\\0", 3)) != std::u16string_view::npos;
}

void AddEmptyLines(std::vector<std::u16string>& lines, int count) {
  for (int i = 0; i < count; ++i) lines.emplace_back();
}

}  // namespace

std::u16string FilePath(std::u16string_view folder, char16_t separator, std::u16string_view workbookName,
                        std::u16string_view sheetName, std::u16string_view address) {
  std::u16string name(workbookName);
  name += kNamePartJoin;
  name += sheetName;
  name += kNamePartJoin;
  name += address;
  name += kFileNameEnd;
  if (LeavesFolder(workbookName) || LeavesFolder(sheetName) || LeavesFolder(address))
    throw AutomationError(kBadFileName, u"Path/File access error: the text file \"" + name +
                                            u"\" cannot be written: its name holds a \"/\", a \"\\\" or a NUL "
                                            u"character (from the workbook's or the sheet's name), which a file "
                                            u"name cannot hold");
  std::u16string path(folder);
  path += separator;
  path += name;
  return path;
}

Lines FileLines(bool alwaysSend, const TooLongFacts& facts, std::u16string_view laidOut, const RegionalFormat& fmt) {
  Lines result;
  std::vector<std::u16string>& lines = result.explanation;
  if (alwaysSend) {
    lines.emplace_back(
        u"Corvane is currently configured to always send the formatted formula to Notepad instead of "
        u"formatting the formula in the cell.");
    AddEmptyLines(lines, 1);
    lines.emplace_back(
        u"To format formulas in their cells, go to Corvane Settings and uncheck \"Always Send to Notepad\".");
  } else {
    lines.emplace_back(
        u"Unable to enter this formatted formula into Excel, because it has too many characters. The "
        u"formatted formula is shown below instead.");
    AddEmptyLines(lines, 1);
    lines.push_back(u"This version of Excel allows a maximum of " + FormatThousands(facts.limit, fmt) +
                    u" characters in a formula. This formatted formula has " +
                    FormatThousands(facts.inCellLength, fmt) + u" characters when formatted for " + facts.fontName +
                    u" font, or " + FormatThousands(facts.notepadLength, fmt) +
                    u" characters when formatted for a non-proportional font such as Courier New or Lucinda "
                    u"Console.");
    AddEmptyLines(lines, 1);
    lines.emplace_back(
        u"Excel 2007 and later allow up to 8,192 characters in a formula. Excel 2003 and earlier allow up to "
        u"1,024 characters in a formula.");
  }
  AddEmptyLines(lines, 3);

  std::size_t start = 0;
  for (;;) {
    const std::size_t feed = laidOut.find(u'\n', start);
    if (feed == std::u16string_view::npos) {
      result.laidOut.push_back(laidOut.substr(start));
      break;
    }
    result.laidOut.push_back(laidOut.substr(start, feed - start));
    start = feed + 1;
  }
  return result;
}

std::u16string FileText(const Lines& lines) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) size += lines[i].size() + 2;
  std::u16string text;
  text.reserve(size);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    text += u"\r\n";
  }
  return text;
}

}  // namespace corvane::notepad
