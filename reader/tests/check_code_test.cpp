// A library built with another check code (TAGPORT_CHECK_CODE "beef:7", see
// CMakeLists.txt) sends that code in the check of every tag operation.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "export_calls.h"
#include "usb_testbed.h"

namespace tagport::testing {
namespace {

TEST(OtherCheckCode, TravelsInTheCheckOfEveryTagOperation) {
  UsbTestbed bed;
  bed.PlugReader(100, 1);
  for (const ExportCall& call : ExportCalls()) {
    if (!call.checked) {
      continue;
    }
    bed.ClearTransfers();
    std::array<std::uint8_t, 10> arg{};
    call.run(arg.data());
    const auto sent = bed.Transfers();
    ASSERT_FALSE(sent.empty()) << call.name;
    EXPECT_EQ(SetupText(sent.front()), "C0 7A EF BE 07 00 01 00") << call.name;
  }
}

}  // namespace
}  // namespace tagport::testing
