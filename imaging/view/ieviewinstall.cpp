// Built apart from the view's static library and linked into every program that links the view: the
// linker would drop this unreferenced object from the library, and then a program that loads the
// view's files without making a view of its own would run without the view's services.
void IEInstallViewServices();  // imageryview.h

namespace {
const struct TViewServicesInstall {
  TViewServicesInstall() { IEInstallViewServices(); }
} g_viewServicesInstall;
}  // namespace
