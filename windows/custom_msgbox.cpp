// `CustomMsgBox`: lays out the message window for one prompt, shows it modally and returns the
// answer its buttons left in `iMsgBoxResult`.
#include "addin/mdl_support.h"
#include "windows/frm_custom_msgbox.h"

namespace corvane::mdl_Support {

namespace {
constexpr std::int32_t kOkCancel = 1;
constexpr std::int32_t kYesNo = 4;

constexpr float kLabelWidth = 6850.0F;
constexpr float kMinWidth = 7150.0F;
constexpr float kMinHeight = 2780.0F;
constexpr float kButtonGap = 200.0F;

// Places a pair of buttons side by side, the pair centred, `gap` apart.
void PlacePair(windows::Control& left, windows::Control& right, float w, float h) {
  const float total = left.Width() + right.Width() + kButtonGap;
  left.SetTop(h - 800.0F);
  right.SetTop(h - 800.0F);
  left.SetLeft(w / 2.0F - total / 2.0F);
  right.SetLeft(left.Left() + left.Width() + kButtonGap);
}
}  // namespace

std::int32_t CustomMsgBox(const std::u16string& strPrompt, const std::int32_t& iButtons,
                          const std::u16string& strTitle) noexcept {
  std::int32_t result = 0;
  try {
    const auto box = frmCustomMsgBox();
    box->SetCaption(strTitle);

    // The label first takes the size of the text as it stands, then wraps when too wide.
    windows::Control& label = box->lblPrompt;
    label.SetTop(1080.0F);
    label.SetLeft(120.0F);
    label.SetWordWrap(false);
    label.SetWidth(kLabelWidth);
    label.SetCaption(strPrompt);
    label.SetAutoSize(false);
    label.SetAutoSize(true);
    if (label.Width() > kLabelWidth) {
      label.SetWordWrap(true);
      label.SetWidth(kLabelWidth);
      label.SetAutoSize(false);
      label.SetAutoSize(true);
    }

    box->SetWidth(label.Width() + 300.0F > kMinWidth ? label.Width() + 300.0F : kMinWidth);
    box->SetHeight(label.Height() + 2480.0F > kMinHeight ? label.Height() + 2480.0F : kMinHeight);

    const float w = box->Width();
    const float h = box->Height();
    box->imgCorvane.SetTop(360.0F);
    box->imgCorvane.SetLeft(w / 2.0F - box->imgCorvane.Width() / 2.0F - 60.0F);

    const bool okCancel = iButtons == kOkCancel;
    const bool yesNo = iButtons == kYesNo;
    box->imgButtonOkMain.SetVisible(!yesNo);
    box->imgButtonCancelMain.SetVisible(okCancel);
    box->imgButtonYesMain.SetVisible(yesNo);
    box->imgButtonNoMain.SetVisible(yesNo);
    if (okCancel) {
      PlacePair(box->imgButtonOkMain, box->imgButtonCancelMain, w, h);
    } else if (yesNo) {
      PlacePair(box->imgButtonYesMain, box->imgButtonNoMain, w, h);
    } else {
      box->imgButtonOkMain.SetTop(h - 800.0F);
      box->imgButtonOkMain.SetLeft(w / 2.0F - box->imgButtonOkMain.Width() / 2.0F);
    }

    Module().iMsgBoxResult = -1;
    box->Show(windows::ShowMode::Modal);
    result = Module().iMsgBoxResult;
  } catch (...) {
    // Any failure ends the routine quietly; callers take 0 as no answer.
  }
  return result;
}

}  // namespace corvane::mdl_Support
