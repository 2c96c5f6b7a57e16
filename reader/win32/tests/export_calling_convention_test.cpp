// tagport.dll as a program outside this system loads it: each export found by its plain
// name, and each one removing its own argument from the stack (stdcall). The calls are
// made in assembly, push by push, so that what the compiler knows about the callee's
// convention cannot hide a mismatch.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

namespace tagport::windows {
namespace {

struct Export {
  const char* name;
  int argumentBytes;
};

constexpr Export kExports[] = {
#include "tagport_exports.inc"
};

struct CallOutcome {
  std::int32_t espDrift;  // where ESP ended, from where it started (positive: higher)
  std::int32_t result;
};

enum class Caller { Stdcall, Cdecl };

// Calls `function` with argumentBytes / 4 copies of `argument`, the way a caller of
// the given convention does: a stdcall caller leaves the stack to the callee, a
// cdecl caller removes the arguments itself after the call.
CallOutcome CallAs(Caller caller, FARPROC function, int argumentBytes, std::uint32_t argument) {
  std::uint32_t count = static_cast<std::uint32_t>(argumentBytes / 4);
  const std::uint32_t cleanup =
      caller == Caller::Cdecl ? static_cast<std::uint32_t>(argumentBytes) : 0;
  std::int32_t result = 0;
  // ESI (callee-saved) keeps ESP across the call; ECX comes back as the drift.
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "jecxz 2f\n"
      "1:\n\t"
      "pushl %[argument]\n\t"
      "loop 1b\n"
      "2:\n\t"
      "call *%[function]\n\t"
      "addl %[cleanup], %%esp\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "+c"(count), [argument] "+d"(argument)
      : [function] "b"(function), [cleanup] "D"(cleanup)
      : "esi", "memory", "cc");
  return {static_cast<std::int32_t>(count), result};
}

class ExportsOfTheDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryA("tagport.dll"); }
  static void TearDownTestSuite() {
    if (dll_ != nullptr) {
      FreeLibrary(dll_);
    }
  }
  void SetUp() override { ASSERT_NE(dll_, nullptr) << "tagport.dll did not load"; }

  static HMODULE dll_;
};
HMODULE ExportsOfTheDll::dll_ = nullptr;

TEST_F(ExportsOfTheDll, AreFoundByTheirPlainNamesOnly) {
  for (const Export& e : kExports) {
    EXPECT_NE(GetProcAddress(dll_, e.name), nullptr) << e.name;
    const std::string decorated = std::string(e.name) + "@" + std::to_string(e.argumentBytes);
    EXPECT_EQ(GetProcAddress(dll_, decorated.c_str()), nullptr) << decorated;
    EXPECT_EQ(GetProcAddress(dll_, ("_" + decorated).c_str()), nullptr) << "_" << decorated;
  }
}

TEST_F(ExportsOfTheDll, EachRemovesItsOwnArgumentFromTheStack) {
  // No reader on the stub bus: every call is a discovery that finds nothing.
  std::array<std::uint8_t, 16> buffer{};
  const auto pointer = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer.data()));
  for (const Export& e : kExports) {
    const FARPROC function = GetProcAddress(dll_, e.name);
    ASSERT_NE(function, nullptr) << e.name;

    const CallOutcome asStdcall = CallAs(Caller::Stdcall, function, e.argumentBytes, pointer);
    EXPECT_EQ(asStdcall.espDrift, 0) << e.name << " called as stdcall";

    // A caller that wrongly takes it for cdecl removes the argument a second time.
    const CallOutcome asCdecl = CallAs(Caller::Cdecl, function, e.argumentBytes, pointer);
    EXPECT_EQ(asCdecl.espDrift, e.argumentBytes) << e.name << " called as cdecl";

    const std::string name = e.name;
    if (name == "OpenReader") {
      EXPECT_EQ(asStdcall.result, 0) << "no reader is open";
    } else if (name != "CloseReader") {
      EXPECT_EQ(asStdcall.result, 1) << name << ": no reader";
    }
  }
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 16>{})) << "nothing written without a reader";
}

}  // namespace
}  // namespace tagport::windows
