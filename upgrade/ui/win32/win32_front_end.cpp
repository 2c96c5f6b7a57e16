#include "win32_front_end.h"

#include <windows.h>

// Needs windows.h first.
#include <commctrl.h>
#include <ole2.h>

#include "win32_server_dialog_view.h"

namespace upgrade::ui::win32 {

Win32FrontEnd::Win32FrontEnd() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  oleReady_ = SUCCEEDED(OleInitialize(nullptr));
}

Win32FrontEnd::~Win32FrontEnd() {
  if (oleReady_) {
    OleUninitialize();
  }
}

std::unique_ptr<run::ServerDialogView> Win32FrontEnd::createServerDialogView(
    run::ServerDialogEvents& events) {
  return std::make_unique<Win32ServerDialogView>(events, control);
}

}  // namespace upgrade::ui::win32
