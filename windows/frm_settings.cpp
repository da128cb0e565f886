#include "windows/frm_settings.h"

#include "addin/mdl_support.h"
#include "base/options.h"
#include "base/platform.h"
#include "windows/picture_button.h"
#include "windows/pictures.h"

namespace corvane::windows {

namespace {

constexpr std::u16string_view kFormatAllParensHelp =
    u"Determines whether parens after arithmetic operators are formatted. Whether this is checked or not, "
    u"function parens are ALWAYS formatted, and string literal parens are NEVER formatted.";
constexpr std::u16string_view kAlwaysSendToNotepadHelp =
    u"If checked, always sends formatted formulas to Notepad instead of formatting the formula in the cell. "
    u"This is helpful for formulas that reference entire columns or rows (A:A, B:C, 2:2, etc.), because Excel "
    u"does not allow formatting right before those references. If unchecked, formatted formulas are only sent "
    u"to Notepad if they have too many characters for Excel to accept in a cell.";

const Font kSmallVerdana{u"Verdana", 7.8F};

void LoadOption(Control& box, std::u16string_view key) {
  box.SetValue(static_cast<float>(options::ReadCheckState(Store(), key)));
}

void SaveOption(const Control& box, std::u16string_view key) {
  options::SaveOption(Store(), key, box.Value() != static_cast<float>(kUnchecked));
}

}  // namespace

frmSettings::frmSettings() : Form(u"frmSettings", BorderStyle::FixedDialog, 7476.0F, 5124.0F) {
  SetCaption(u"Corvane Settings");
  icon_ = &art::kIcon;
  font_ = kSmallVerdana;

  Image2.SetPicture(&art::kBanner);
  Image2.Move(360.0F, 240.0F);  // takes the size of its picture at the screen's resolution

  for (Control* box : {&chkFormatAllParens, &chkAlwaysSendToNotepad}) {
    box->SetFont(kSmallVerdana);
    box->SetBackColor(Color::Of(Color::System::WindowBackground));
    box->SetForeColor(Color::Of(Color::System::WindowText));
  }
  chkFormatAllParens.SetCaption(u"Format All Parens");
  chkFormatAllParens.Move(960.0F, 1200.0F, 2772.0F, 192.0F);
  chkFormatAllParens.SetTabIndex(0);
  chkAlwaysSendToNotepad.SetCaption(u"Always Send to Notepad");
  chkAlwaysSendToNotepad.Move(960.0F, 2640.0F, 2772.0F, 192.0F);
  chkAlwaysSendToNotepad.SetTabIndex(1);

  for (Control* label : {&Label2, &Label1}) {
    label->SetFont(kSmallVerdana);
    label->SetBackColor(kWhite);
  }
  Label2.SetCaption(std::u16string(kFormatAllParensHelp));
  Label2.Move(1320.0F, 1560.0F, 5772.0F, 852.0F);
  Label1.SetCaption(std::u16string(kAlwaysSendToNotepadHelp));
  Label1.Move(1320.0F, 3000.0F, 5772.0F, 1212.0F);

  InstallPictureButton(imgButtonOkMain, imgButtonOkUp, imgButtonOkDown, art::kOkUp, art::kOkDown, [this] { Ok(); });
  InstallPictureButton(imgButtonCancelMain, imgButtonCancelUp, imgButtonCancelDown, art::kCancelUp,
                       art::kCancelDown, [this] { Unload(); });
  imgButtonOkMain.Move(2280.0F, 4680.0F);
  imgButtonCancelMain.Move(3840.0F, 4680.0F);
  imgButtonOkUp.Move(0.0F, 4800.0F);
  imgButtonOkDown.Move(1500.0F, 4800.0F);
  imgButtonCancelUp.Move(4500.0F, 4800.0F);
  imgButtonCancelDown.Move(6000.0F, 4800.0F);
}

void frmSettings::Form_Load() {
  LoadOption(chkFormatAllParens, options::kFormatAllParens);
  LoadOption(chkAlwaysSendToNotepad, options::kAlwaysSendToNotepad);
}

void frmSettings::Ok() {
  SaveOption(chkFormatAllParens, options::kFormatAllParens);
  SaveOption(chkAlwaysSendToNotepad, options::kAlwaysSendToNotepad);
  Unload();
}

void frmSettings::ForgetSharedInstance() {
  auto& slot = mdl_Support::Module().frmSettings;
  if (slot.get() == this) slot.reset();
}

}  // namespace corvane::windows
