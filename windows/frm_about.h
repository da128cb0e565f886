// The About window `frmAbout`: banner, the maker's web address as a link, the title and
// copyright lines, and an OK picture button.
// Contract: the load step sets the texts and makes the web address look and point like a link
// (blue, underlined, 10 points, the hand pointer borrowed from `frmGraphics`); a click on it asks
// the platform shell once to open the address, whatever comes of it; OK unloads the window.
#pragma once

#include <string_view>

#include "windows/form.h"

namespace corvane::windows {

inline constexpr std::u16string_view kWebAddress = u"https://corvane.dev/";
inline constexpr std::u16string_view kTitleLine =
    u"Corvane 1.00, readable layout for Microsoft Excel formulas, by the Corvane project";
inline constexpr std::u16string_view kCopyrightLine = u"Copyright \u00A9 2026 the Corvane project";

// What a click on the web address does: asks the platform shell once to open it, whatever comes
// of it.
void OpenWebAddress();

class frmAbout final : public Form {
 public:
  frmAbout();

  Control Image2{*this, u"Image2", ControlKind::Image};
  Control lblHyperlink{*this, u"lblHyperlink", ControlKind::Label};
  Control lblCopyright{*this, u"lblCopyright", ControlKind::Label};
  Control imgButtonOkMain{*this, u"imgButtonOkMain", ControlKind::Image};
  Control imgButtonOkUp{*this, u"imgButtonOkUp", ControlKind::Image};
  Control imgButtonOkDown{*this, u"imgButtonOkDown", ControlKind::Image};

 private:
  void Form_Load() override;
  void ForgetSharedInstance() override;
};

// The never-shown form that holds the hand-shaped mouse pointer for labels acting as links.
class frmGraphics final : public Form {
 public:
  frmGraphics();

 private:
  void ForgetSharedInstance() override;
};

}  // namespace corvane::windows
