#include "addin/cls_corvane.h"

#include "addin/mdl_support.h"
#include "base/platform.h"

namespace corvane {

void cls_corvane::SetExcelApp(ObjectRef& excel_app) {
  Variant obj(excel_app);
  bool noClear = false;
  (void)mdl_Support::ExcelApp(obj, noClear);
}

std::u16string cls_corvane::cvHelpfilePath() {
  const auto& services = Services();
  std::u16string path = services.moduleFolder;
  path.push_back(services.pathSeparator);
  path += u"corvane.chm";
  return path;
}

}  // namespace corvane
