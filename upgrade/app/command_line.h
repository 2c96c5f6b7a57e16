// Update's command line. Without options it behaves as it always has: a run with
// message boxes, the server connection dialog when needed, and exit status 0. Every
// argument it does not know is ignored, as before. Shared by every main, so the
// Windows program only passes its arguments on.
#pragma once

namespace upgrade::app {

// "--unattended" or "/unattended", in any letter case as Windows programs take
// their switches (accepted everywhere; the program names no files). argv[0] is
// the program and is never an option.
[[nodiscard]] bool unattendedRequested(int argc, const char* const* argv) noexcept;
[[nodiscard]] bool unattendedRequested(int argc, const wchar_t* const* argv) noexcept;

}  // namespace upgrade::app
