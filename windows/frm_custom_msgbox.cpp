#include "windows/frm_custom_msgbox.h"

#include "addin/mdl_support.h"
#include "windows/picture_button.h"
#include "windows/pictures.h"

namespace corvane::windows {

namespace {
// Answers of the message window, the numbers of the Windows message box.
constexpr std::int32_t kIdOk = 1;
constexpr std::int32_t kIdCancel = 2;
constexpr std::int32_t kIdYes = 6;
constexpr std::int32_t kIdNo = 7;
}  // namespace

frmCustomMsgBox::frmCustomMsgBox() : Form(u"frmCustomMsgBox", BorderStyle::FixedDialog, 7080.0F, 2412.0F) {
  SetCaption(u"Corvane");

  imgCorvane.SetPicture(&art::kBanner);
  imgCorvane.Move(150.0F, 360.0F);

  lblPrompt.SetFont(Font{u"Verdana", 9.0F});
  lblPrompt.SetBackColor(kWhite);
  lblPrompt.SetAlignment(Alignment::Left);
  lblPrompt.Move(120.0F, 1080.0F, 6850.0F, 216.0F);

  const auto answer = [this](std::int32_t value) {
    return [this, value] {
      mdl_Support::Module().iMsgBoxResult = value;
      Unload();
    };
  };
  InstallPictureButton(imgButtonOkMain, imgButtonOkUp, imgButtonOkDown, art::kOkUp, art::kOkDown, answer(kIdOk));
  InstallPictureButton(imgButtonCancelMain, imgButtonCancelUp, imgButtonCancelDown, art::kCancelUp,
                       art::kCancelDown, answer(kIdCancel));
  InstallPictureButton(imgButtonYesMain, imgButtonYesUp, imgButtonYesDown, art::kYesUp, art::kYesDown,
                       answer(kIdYes));
  InstallPictureButton(imgButtonNoMain, imgButtonNoUp, imgButtonNoDown, art::kNoUp, art::kNoDown, answer(kIdNo));

  // Design places; every call of the message box sets the buttons' places and visibility.
  imgButtonOkMain.Move(2814.0F, 1980.0F);
  imgButtonCancelMain.Move(3640.0F, 1980.0F);
  imgButtonYesMain.Move(1988.0F, 1980.0F);
  imgButtonNoMain.Move(3640.0F, 1980.0F);
  float left = 0.0F;
  for (Control* holder : {&imgButtonOkUp, &imgButtonCancelUp, &imgButtonYesUp, &imgButtonNoUp, &imgButtonOkDown,
                          &imgButtonCancelDown, &imgButtonYesDown, &imgButtonNoDown}) {
    holder->Move(left, 2412.0F);
    left += 480.0F;
  }
}

void frmCustomMsgBox::ForgetSharedInstance() {
  auto& slot = mdl_Support::Module().frmCustomMsgBox;
  if (slot.get() == this) slot.reset();
}

}  // namespace corvane::windows
