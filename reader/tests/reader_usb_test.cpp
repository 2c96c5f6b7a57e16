// tagport end to end: the shipped library over the real libusb 0.1, against readers
// that exist only in a umockdev testbed. The setup packets are checked as they travel.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <usb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "export_calls.h"
#include "tagport.h"
#include "tagport_check_code.h"
#include "usb_testbed.h"

namespace tagport::testing {
namespace {

// Opening fails (the node vanishes just before usb_open) while this is set.
std::atomic<UsbTestbed*> g_opensFailIn{nullptr};
std::atomic<int> g_failedOpensReturningHandles{0};

}  // namespace
}  // namespace tagport::testing

// Stands in for libusb's usb_open (this binary exports it, and comes first), so a test
// can make the device node disappear between enumeration and opening.
extern "C" usb_dev_handle* usb_open(struct usb_device* device) {
  using Open = usb_dev_handle* (*)(struct usb_device*);
  static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "usb_open"));
  tagport::testing::UsbTestbed* bed = tagport::testing::g_opensFailIn;
  if (bed == nullptr) {
    return real(device);
  }
  const std::string file =
      bed->NodeFile(std::string("/dev/bus/usb/") + device->bus->dirname + "/" + device->filename);
  const std::string away = file + ".away";
  std::rename(file.c_str(), away.c_str());
  usb_dev_handle* handle = real(device);
  std::rename(away.c_str(), file.c_str());
  if (handle != nullptr) {
    ++tagport::testing::g_failedOpensReturningHandles;
  }
  return handle;
}

namespace tagport::testing {
namespace {

using Tag = std::array<std::uint8_t, 4>;

std::string CheckSetup(std::uint16_t first, std::uint16_t second) {
  const std::uint8_t setup[8] = {0xC0,
                                 122,
                                 static_cast<std::uint8_t>(first & 0xFF),
                                 static_cast<std::uint8_t>(first >> 8),
                                 static_cast<std::uint8_t>(second & 0xFF),
                                 static_cast<std::uint8_t>(second >> 8),
                                 1,
                                 0};
  return Hex(setup, sizeof setup);
}

// The check with the code this build was configured with, as it travels.
const std::string kCheck = CheckSetup(kCheckCodeFirst, kCheckCodeSecond);
constexpr const char* kCompletion = "C0 6F 01 00 00 00 00 00";  // wValue 1, no data

constexpr std::uint8_t kCheckRequest = 122;

class EmulatedReader : public ::testing::Test {
 protected:
  void SetUp() override {
    static int cases = 0;
    ASSERT_EQ(++cases, 1) << "libusb keeps its device list for the whole process: run one "
                             "case per process (ctest does, and so does this binary unfiltered)";
  }
  void TearDown() override { CloseReader(); }

  std::vector<std::string> Setups() {
    std::vector<std::string> out;
    for (const Transfer& t : bed.Transfers()) {
      out.push_back(SetupText(t));
    }
    return out;
  }

  UsbTestbed bed;
};

std::string FirstReaderInLibusbOrder() {
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* d = bus->devices; d != nullptr; d = d->next) {
      if (d->descriptor.idVendor == 0x16C0 && d->descriptor.idProduct == 0x88DC) {
        return std::string("/dev/bus/usb/") + bus->dirname + "/" + d->filename;
      }
    }
  }
  return {};
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) {
    ++count;
  }
  closedir(dir);
  return count;
}

TEST_F(EmulatedReader, NoReaderOnTheBusGivesOneAndSendsNothing) {
  EXPECT_EQ(OpenReader(0), 0);
  for (const ExportCall& call : ExportCalls()) {
    std::array<std::uint8_t, 10> out{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(call.run(out.data()), 1) << call.name;
    EXPECT_EQ(out, (std::array<std::uint8_t, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << call.name;
  }
}

TEST_F(EmulatedReader, DevicesWithOtherIdentifiersAreIgnored) {
  bed.Plug(100, 1, 0x16C0, 0x88DD);
  bed.Plug(100, 2, 0x16C1, 0x88DC);
  EXPECT_EQ(OpenReader(0), 0);
  Tag tag{};
  EXPECT_EQ(ReadRFID(tag.data()), 1);
  EXPECT_TRUE(bed.Transfers().empty());
}

TEST_F(EmulatedReader, FirstReaderInBusOrderIsTheOneUsed) {
  bed.PlugReader(101, 2);
  bed.PlugReader(100, 3);
  bed.PlugReader(101, 1);
  bed.Plug(100, 1, 0x16C0, 0x1234);
  Tag tag{};
  ASSERT_EQ(ReadRFID(tag.data()), 0);
  const std::string first = FirstReaderInLibusbOrder();
  ASSERT_FALSE(first.empty());
  for (const Transfer& t : bed.Transfers()) {
    EXPECT_EQ(t.node, first) << SetupText(t);
  }
  EXPECT_EQ(bed.Transfers().size(), 2u);
}

// The setup packets of every export, byte for byte as they travel, with a reader that
// accepts everything (status 0) and a limit card on it.
TEST_F(EmulatedReader, EveryExportSendsItsSetupPacketsWithThreeSecondTimeouts) {
  bed.PlugReader(100, 1);
  bed.Answer(102, {0, 0, 0, 0x70, 0});
  const std::vector<std::pair<const char*, std::vector<std::string>>> expected = {
      {"GetReaderVersion", {"C0 56 00 00 00 00 08 00", kCompletion}},
      {"ReadRFID", {kCheck, "C0 64 00 00 00 00 05 00"}},
      {"SetCard", {kCheck, "C0 91 02 01 04 03 05 00"}},
      {"SetCard2", {kCheck, "C0 92 02 01 04 03 05 00"}},
      {"ClearCard", {kCheck, "C0 8E 01 00 00 00 05 00"}},
      {"ClearCard2", {kCheck, "C0 8E 02 00 00 00 05 00"}},
      {"GetHandId", {kCheck, "C0 65 00 00 00 00 05 00"}},
      {"SetHandId", {kCheck, "C0 6A 02 01 04 03 01 00", kCompletion}},
      {"GetHandType", {kCheck, "C0 66 00 00 00 00 05 00"}},
      {"SetHandType", {kCheck, "C0 6B 02 01 04 03 01 00", kCompletion}},
      {"WriteLimitCard", {kCheck, "C0 80 02 01 04 03 01 00", kCompletion}},
      {"GetLimitInfo", {kCheck, "C0 66 00 00 00 00 05 00", "C0 67 00 00 00 00 05 00"}},
      {"GetRTC", {"C0 C8 00 00 00 00 07 00", kCompletion}},
      {"SetRTC", {"40 C9 03 00 02 00 01 00", kCompletion}},
  };
  ASSERT_EQ(expected.size(), ExportCalls().size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ExportCall& call = ExportCalls()[i];
    ASSERT_STREQ(call.name, expected[i].first);
    bed.ClearTransfers();
    // Caller bytes 1, 2, 3, 4; as a clock record: w0 = 1, w1 = 2, w2 = 3.
    std::array<std::uint8_t, 10> arg = {1, 2, 3, 4, 0, 0, 0, 0, 0, 0};
    if (std::string(call.name) == "SetRTC") {
      arg = {1, 0, 2, 0, 3, 0, 0, 0, 0, 0};
    }
    EXPECT_EQ(call.run(arg.data()), 0) << call.name;
    EXPECT_EQ(Setups(), expected[i].second) << call.name;
    for (const Transfer& t : bed.Transfers()) {
      EXPECT_EQ(t.timeout, 3000u) << call.name;
    }
  }
  bed.ClearTransfers();
  EXPECT_EQ(OpenReader(0), 1);
  CloseReader();
  EXPECT_TRUE(bed.Transfers().empty()) << "OpenReader and CloseReader send nothing";
}

TEST_F(EmulatedReader, RefusedCheckEndsTheOperationWithStatusPlusOne) {
  bed.PlugReader(100, 1);
  for (int status : {1, 2, 255}) {
    bed.Answer(kCheckRequest, {static_cast<std::uint8_t>(status)});
    for (const ExportCall& call : ExportCalls()) {
      const std::string name = call.name;
      if (!call.checked) {
        continue;
      }
      bed.ClearTransfers();
      std::array<std::uint8_t, 10> arg{5, 6, 7, 8};
      EXPECT_EQ(call.run(arg.data()), status + 1) << name;
      EXPECT_EQ(Setups(), std::vector<std::string>{kCheck}) << name;
      EXPECT_EQ(arg, (std::array<std::uint8_t, 10>{5, 6, 7, 8})) << name;
    }
  }
}

TEST_F(EmulatedReader, RefusedOperationGivesStatusPlusTwoAndNoCompletion) {
  bed.PlugReader(100, 1);
  bed.Answer(kCheckRequest, {0});
  for (int status : {1, 5, 255}) {
    for (int request : {100, 101, 102, 106, 107, 128, 142, 145, 146}) {
      bed.Answer(static_cast<std::uint8_t>(request),
                 {static_cast<std::uint8_t>(status), 0xAA, 0xBB, 0xCC, 0xDD});
    }
    for (const ExportCall& call : ExportCalls()) {
      const std::string name = call.name;
      if (!call.checked) {
        continue;
      }
      bed.ClearTransfers();
      Tag tag = {1, 2, 3, 4};
      EXPECT_EQ(call.run(tag.data()), status + 2) << name;
      EXPECT_EQ(bed.Transfers().size(), 2u) << name << ": the check and the refused request";
      EXPECT_EQ(tag, (Tag{1, 2, 3, 4})) << name;
    }
  }
}

TEST_F(EmulatedReader, CardExchangeReplacesTheCallersBytesOnlyOnSuccess) {
  bed.PlugReader(100, 1);
  bed.Answer(145, {0, 0xDE, 0xAD, 0xBE, 0xEF});
  Tag tag = {1, 2, 3, 4};
  EXPECT_EQ(SetCard(tag.data()), 0);
  EXPECT_EQ(tag, (Tag{0xDE, 0xAD, 0xBE, 0xEF}));

  bed.Answer(146, {1, 0xDE, 0xAD, 0xBE, 0xEF});
  tag = {1, 2, 3, 4};
  EXPECT_EQ(SetCard2(tag.data()), 3);
  EXPECT_EQ(tag, (Tag{1, 2, 3, 4}));
}

TEST_F(EmulatedReader, LimitInfoIsReadInTwoHalves) {
  bed.PlugReader(100, 1);
  bed.Answer(kCheckRequest, {0});

  // Not a limit card: the third data byte is not 0x70. Nothing written, no second half.
  bed.Answer(102, {0, 0x11, 0x22, 0x71, 0x44});
  Tag tag = {9, 9, 9, 9};
  EXPECT_EQ(GetLimitInfo(tag.data()), 16);
  EXPECT_EQ(tag, (Tag{9, 9, 9, 9}));
  EXPECT_EQ(bed.Transfers().size(), 2u);

  // The second half refused: 32 whatever its status, the first half already written.
  bed.Answer(102, {0, 0x11, 0x22, 0x70, 0x44});
  bed.Answer(103, {9, 0x55, 0x66, 0x77, 0x88});
  EXPECT_EQ(GetLimitInfo(tag.data()), 32);
  EXPECT_EQ(tag, (Tag{0x11, 0x22, 9, 9}));

  bed.Answer(103, {0, 0x55, 0x66, 0x77, 0x88});
  EXPECT_EQ(GetLimitInfo(tag.data()), 0);
  EXPECT_EQ(tag, (Tag{0x11, 0x22, 0x66, 0x77}));
}

TEST_F(EmulatedReader, VersionAndClockBytesComeInTheirOwnOrder) {
  bed.PlugReader(100, 1);
  bed.Answer(86, {'V', '2', '.', '1', '7', '-', 'r', 'c'});
  std::array<std::uint8_t, 10> version;
  version.fill(0xEE);
  EXPECT_EQ(GetReaderVersion(version.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(version.data()), 10),
            std::string("PV2.17-rc\0", 10));

  bed.Answer(200, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70});
  std::array<std::uint8_t, 6> clock{};
  EXPECT_EQ(GetRTC(clock.data()), 0);
  EXPECT_EQ(clock, (std::array<std::uint8_t, 6>{0x70, 0x50, 0x40, 0x30, 0x20, 0x10}));
}

TEST_F(EmulatedReader, SilentReaderInAFreshProcessGivesAnEmptyVersion) {
  bed.PlugReader(100, 1);
  bed.Answer(86, {});
  std::array<std::uint8_t, 10> version;
  version.fill(0xEE);
  EXPECT_EQ(GetReaderVersion(version.data()), 0);
  EXPECT_EQ(version, (std::array<std::uint8_t, 10>{'P', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EmulatedReader, ClockSettingSendsTheReplyBufferAsItsDataStage) {
  bed.PlugReader(100, 1);
  bed.Answer(86, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
  std::array<std::uint8_t, 10> version{};
  ASSERT_EQ(GetReaderVersion(version.data()), 0);

  bed.ClearTransfers();
  const std::array<std::uint8_t, 6> record = {12, 0, 0x22, 0x11, 0x44, 0x33};
  EXPECT_EQ(SetRTC(record.data()), 0);
  const std::vector<Transfer> sent = bed.Transfers();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(SetupText(sent[0]), "40 C9 44 33 22 11 0C 00");
  EXPECT_EQ(Hex(sent[0].out.data(), sent[0].out.size()), "01 42 43 44 45 46 47 48 00 00 00 00");
  EXPECT_EQ(SetupText(sent[1]), kCompletion);
}

TEST_F(EmulatedReader, ReaderPulledOutAndBackIsSeenByTheNextCall) {
  const std::string node = bed.PlugReader(100, 1);
  Tag tag{};
  EXPECT_EQ(ReadRFID(tag.data()), 0);

  bed.Unplug(node);
  bed.ClearTransfers();
  EXPECT_EQ(ReadRFID(tag.data()), 1);
  EXPECT_EQ(OpenReader(0), 0);
  EXPECT_TRUE(bed.Transfers().empty());

  bed.PlugReader(100, 1);
  EXPECT_EQ(ReadRFID(tag.data()), 0);
  EXPECT_EQ(bed.Transfers().size(), 2u);
}

// Debian's libusb 0.1.12 hands out a handle even when the node did not open.
TEST_F(EmulatedReader, ReaderWhoseNodeDoesNotOpenIsNoReader) {
  bed.PlugReader(100, 1);
  bed.PlugReader(100, 2);
  g_opensFailIn = &bed;
  Tag tag = {1, 2, 3, 4};
  EXPECT_EQ(OpenReader(0), 0);
  EXPECT_EQ(ReadRFID(tag.data()), 1) << "the second reader is not tried";
  std::array<std::uint8_t, 10> version{};
  EXPECT_EQ(GetReaderVersion(version.data()), 1);
  g_opensFailIn = nullptr;
  EXPECT_GT(g_failedOpensReturningHandles, 0) << "libusb returned null; nothing was tested";
  EXPECT_TRUE(bed.Transfers().empty());

  EXPECT_EQ(ReadRFID(tag.data()), 0) << "once the node opens again";
}

TEST_F(EmulatedReader, RepeatedCallsKeepOneDeviceOpen) {
  bed.PlugReader(100, 1);
  Tag tag{};
  ASSERT_EQ(ReadRFID(tag.data()), 0);
  const int held = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(ReadRFID(tag.data()), 0);
  }
  EXPECT_EQ(OpenDescriptors(), held);
  CloseReader();
  EXPECT_LT(OpenDescriptors(), held) << "CloseReader gives the device back";
}

std::pair<int, std::string> RunProbe(const std::string& arguments) {
  std::string output;
  std::FILE* pipe = popen((std::string(TAGPORT_PROBE) + " " + arguments + " 2>&1").c_str(), "r");
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
    output += chunk.data();
  }
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// "0x5AA5:0x0F1E" from the check's setup packet "C0 7A A5 5A 1E 0F 01 00".
std::string CodeOnTheWire(const std::string& setup) {
  return "0x" + setup.substr(9, 2) + setup.substr(6, 2) + ":0x" + setup.substr(15, 2) +
         setup.substr(12, 2);
}

TEST_F(EmulatedReader, ProbeListsTheReaderAndWhatItAnswers) {
  bed.PlugReader(101, 7);
  bed.Answer(100, {0, 0x12, 0x34, 0x56, 0x78});
  bed.Answer(kCheckRequest, {0});
  bed.Answer(101, {4});
  const auto [status, output] = RunProbe("--set-rtc 01:00:02:00:03:00");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("bus 101, device 007"), std::string::npos) << output;
  EXPECT_NE(output.find("success: 12 34 56 78"), std::string::npos) << output;
  EXPECT_NE(output.find("operation refused with status 4"), std::string::npos) << output;
  EXPECT_EQ(Setups().at(Setups().size() - 2), "40 C9 03 00 02 00 01 00");
  // The code it reports as built in is the one its library sends.
  const std::vector<std::string> setups = Setups();
  const auto check = std::find_if(setups.begin(), setups.end(),
                                  [](const std::string& s) { return s.starts_with("C0 7A"); });
  ASSERT_NE(check, setups.end());
  EXPECT_NE(output.find("built-in check code: " + CodeOnTheWire(*check) + "\n"), std::string::npos)
      << output;
}

// --check-code sends the check alone, with the candidate code, and says what the
// reader's answer would mean for tag operations.
TEST_F(EmulatedReader, ProbeTriesACandidateCheckCode) {
  bed.PlugReader(100, 1);
  const std::vector<std::string> candidateCheck = {"C0 7A CD AB 07 00 01 00"};

  bed.Answer(kCheckRequest, {0});
  auto [status, output] = RunProbe("--check-code 0xABCD:7");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Check with 0xABCD:0x0007: status 0, accepted"), std::string::npos)
      << output;
  EXPECT_NE(output.find("built-in check code: " + CodeOnTheWire(kCheck)), std::string::npos)
      << output;
  EXPECT_EQ(Setups(), candidateCheck);

  bed.ClearTransfers();
  bed.Answer(kCheckRequest, {7});
  std::tie(status, output) = RunProbe("--check-code abcd:0X0007");
  EXPECT_EQ(status, 3) << output;
  EXPECT_NE(output.find("status 7, refused"), std::string::npos) << output;
  EXPECT_NE(output.find("every tag operation would return 8"), std::string::npos) << output;
  EXPECT_EQ(Setups(), candidateCheck);

  bed.Answer(kCheckRequest, {}, EPIPE);
  std::tie(status, output) = RunProbe("--check-code 0xabcd:0x7");
  EXPECT_EQ(status, 3) << output;
  EXPECT_NE(output.find("no status from the reader"), std::string::npos) << output;
  EXPECT_NE(output.find("would return 2"), std::string::npos) << output;
}

TEST_F(EmulatedReader, ProbeFailsWithoutAReaderOrOnAMalformedArgument) {
  for (const char* arguments : {"", "--check-code 1:2"}) {
    const auto [status, output] = RunProbe(arguments);
    EXPECT_EQ(status, 1) << arguments << "\n" << output;
    EXPECT_NE(output.find("none"), std::string::npos) << output;
  }
  for (const char* arguments :
       {"--set-rtc 1:2", "--check-code 12345:1", "--check-code 1", "--check-code 1:2:3",
        "--check-code 0x:1", "--check-code 1:2 --set-rtc 01:00:02:00:03:00"}) {
    EXPECT_EQ(RunProbe(arguments).first, 2) << arguments;
  }
  EXPECT_TRUE(bed.Transfers().empty());
}

}  // namespace
}  // namespace tagport::testing
