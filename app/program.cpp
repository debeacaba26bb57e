// The program: start-up of what the windows stand on, the main window and the about window, and the
// message loop until the main window closes.
#include <windows.h>
#include <ole2.h>

#include "about_form.h"
#include "gdiplus_runtime.h"
#include "main_form.h"
#include "vodevovur.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The folder browser and the automation client need OLE on this thread.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));
  int code = 0;
  {
    app::GdiplusRuntime gdiplus;
    IELibraryStaticInit();
    try {
      ui::Application->Initialize();
      VelApplication->SetTitleText(app::kApplicationTitle);
      app::Tform1* form1 = nullptr;
      ui::Application->CreateForm(form1);
      ui::Application->CreateForm(app::form4);
      ui::Application->Run();
    } catch (...) {
      ui::Application->HandleException(nullptr);
      code = 1;
    }
    IELibraryStaticFini();
  }
  if (ole) OleUninitialize();
  return code;
}
