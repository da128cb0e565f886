#include "windows/frm_about.h"

#include "addin/mdl_support.h"
#include "base/platform.h"
#include "windows/picture_button.h"
#include "windows/pictures.h"

namespace corvane::windows {

namespace {
constexpr std::int32_t kShowMaximized = 3;
}

void OpenWebAddress() {
  // The shell's answer is not examined: a browser that cannot be started changes nothing here.
  (void)SystemShell().ShellOpen(u"open", kWebAddress, u"1", u"1", kShowMaximized);
}

frmAbout::frmAbout() : Form(u"frmAbout", BorderStyle::FixedDialog, 7968.0F, 4656.0F) {
  SetCaption(u"About Corvane");
  icon_ = &art::kIcon;
  font_ = Font{u"Verdana", 7.8F};

  Image2.SetPicture(&art::kBanner);
  Image2.Move(600.0F, 360.0F);  // takes the size of its picture at the screen's resolution

  lblHyperlink.SetFont(font_);
  lblHyperlink.SetBackColor(kWhite);
  lblHyperlink.SetTabIndex(1);
  lblHyperlink.Move(120.0F, 1080.0F, 7692.0F, 372.0F);
  lblHyperlink.onClick = [] { OpenWebAddress(); };

  lblCopyright.SetFont(font_);
  lblCopyright.SetBackColor(kWhite);
  lblCopyright.SetTabIndex(0);
  lblCopyright.Move(120.0F, 1560.0F, 7692.0F, 2412.0F);

  InstallPictureButton(imgButtonOkMain, imgButtonOkUp, imgButtonOkDown, art::kOkUp, art::kOkDown, [this] { Unload(); });
  imgButtonOkMain.Move(3240.0F, 4200.0F);
  imgButtonOkUp.Move(240.0F, 4200.0F);
  imgButtonOkDown.Move(1200.0F, 4200.0F);
}

void frmAbout::Form_Load() {
  SetCaption(u"About Corvane");
  lblCopyright.SetCaption(std::u16string(kTitleLine) + u"\r\n" + std::u16string(kCopyrightLine));
  lblHyperlink.SetCaption(std::u16string(kWebAddress));
  lblHyperlink.SetAlignment(Alignment::Center);
  lblHyperlink.SetForeColor(Color::Rgb(0, 0, 255));
  Font linkFont = lblHyperlink.GetFont();
  linkFont.size = 10.0F;
  linkFont.underline = true;
  lblHyperlink.SetFont(linkFont);
  lblHyperlink.SetMouseIcon(mdl_Support::frmGraphics()->MouseIcon());
}

void frmAbout::ForgetSharedInstance() {
  auto& slot = mdl_Support::Module().frmAbout;
  if (slot.get() == this) slot.reset();
}

frmGraphics::frmGraphics() : Form(u"frmGraphics", BorderStyle::Sizable, 4680.0F, 3192.0F) {
  SetCaption(u"Form1");
  mouseIcon_ = &art::kHandCursor;
}

void frmGraphics::ForgetSharedInstance() {
  auto& slot = mdl_Support::Module().frmGraphics;
  if (slot.get() == this) slot.reset();
}

}  // namespace corvane::windows
