#include "spacing/measurement.h"

#include <cmath>
#include <string>

#include "base/platform.h"
#include "spacing/calibration_store.h"
#include "windows/ui_backend.h"

namespace corvane {

namespace measurement {

void ProcessPendingEvents() {
  // Without a window system nothing can be pending.
  if (windows::UiBackend* ui = Services().ui) ui->DoEvents();
}

double Measure(HostRange& cell, std::u16string_view text, bool wrapFirst) {
  std::u16string entry(1, u'\'');
  entry += text;
  if (wrapFirst) {
    cell.SetWrapText(Variant(false));
    cell.SetValue(Variant(std::move(entry)));
  } else {
    cell.SetValue(Variant(std::move(entry)));
    cell.SetWrapText(Variant(false));
  }
  cell.EntireColumnAutoFit();
  ProcessPendingEvents();
  return cell.EntireColumnWidth();
}

double ColumnOverhead(double w1, double w2) { return RoundHalfEven(w1 - (w2 - w1), 4); }

double RelativeWidth(double widthNoOverhead, double spaceWidthNoOverhead) {
  if (spaceWidthNoOverhead == 0.0 && widthNoOverhead != 0.0)
    throw AutomationError(11, u"Division by zero");
  const double ratio = widthNoOverhead / spaceWidthNoOverhead;
  if (!std::isfinite(ratio)) throw AutomationError(err::kOverflow, u"Overflow");
  return ratio;
}

}  // namespace measurement

namespace measurement {

char16_t CharOfCode(std::int32_t code) {
  if (code < 0 || code > 0xFFFF) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return static_cast<char16_t>(code);
}

double SpaceWidth(HostRange& cell) {
  const double w1 = Measure(cell, u" ");
  const double w2 = Measure(cell, u"  ", /*wrapFirst=*/true);
  const double overhead = ColumnOverhead(w1, w2);
  const double w100 = Measure(cell, std::u16string(kCopies, u' '));
  ProcessPendingEvents();
  return w100 - overhead;
}

double MeasureRatio(HostRange& cell, std::int32_t code, double spaceWidthNoOverhead) {
  const char16_t c = CharOfCode(code);
  const double w1 = Measure(cell, std::u16string(1, c));
  ProcessPendingEvents();
  const double w2 = Measure(cell, std::u16string(2, c));
  const double overhead = ColumnOverhead(w1, w2);
  ProcessPendingEvents();
  const double w100 = Measure(cell, std::u16string(kCopies, c));
  ProcessPendingEvents();
  const double ratio = RelativeWidth(w100 - overhead, spaceWidthNoOverhead);
  ProcessPendingEvents();
  return ratio;
}

void CalibrateChar(HostRange& cell, SettingsStore& store, std::u16string_view section, std::int32_t code,
                   double spaceWidthNoOverhead) {
  const double ratio = MeasureRatio(cell, code, spaceWidthNoOverhead);
  calibration::SaveWidth(store, section, code, ratio);
  ProcessPendingEvents();
}

}  // namespace measurement

}  // namespace corvane
