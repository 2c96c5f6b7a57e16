#include "win32_run_control.h"

#include <windows.h>

#include <string>

#include "win32_text.h"

namespace upgrade::ui::win32 {

void Win32RunControl::showBusyPointer() noexcept {
  busy_ = true;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void Win32RunControl::restorePointer() noexcept {
  busy_ = false;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void Win32RunControl::showMessage(std::string_view title, std::string_view text) noexcept {
  try {
    const std::wstring wideTitle = toWide(title);
    const std::wstring wideText = toWide(text);
    MessageBoxW(nullptr, wideText.c_str(), wideTitle.c_str(), MB_OK | MB_ICONINFORMATION);
  } catch (...) {
    // Out of memory for the texts: the run still ends.
  }
}

void Win32RunControl::endRun() noexcept {
  endRequested_ = true;
  if (inMessageLoop_) {
    PostQuitMessage(0);
  }
}

int Win32RunControl::runMessageLoop() noexcept {
  inMessageLoop_ = true;
  PostQuitMessage(0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  inMessageLoop_ = false;
  return 0;
}

}  // namespace upgrade::ui::win32
