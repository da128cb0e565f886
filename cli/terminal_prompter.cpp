#include "cli/terminal_prompter.h"

#include "cli/cli.h"

namespace corvane::cli {

namespace {

std::u16string PlainLines(std::u16string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) out.push_back(text[i]);
  return out;
}

}  // namespace

std::int32_t TerminalPrompter::Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) noexcept {
  try {
    prompts.emplace_back(prompt);
    if (const auto preset = presets_.find(prompt); preset != presets_.end()) return preset->second;
    const bool notice = style != buttons::kYesNo && style != buttons::kOkCancel;
    if (notice) notices.emplace_back(prompt);
    if (notice && mode_ != Notices::Ask) {
      if (mode_ == Notices::Print) PrintError(PlainLines(prompt));
      return answer::kOk;
    }
    const std::int32_t given = terminal_.Ask(prompt, style, title);
    if ((given == answer::kYes || given == answer::kNo) && remembered_.count(prompt) != 0)
      presets_[std::u16string(prompt)] = given;
    return given;
  } catch (...) {
    return answer::kNone;  // as the message window answers when it cannot be shown
  }
}

}  // namespace corvane::cli
