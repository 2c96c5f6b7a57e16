// tagport over the fake bus: the failures a real reader rarely shows on demand (time-outs,
// short replies, handles that do not open), handle release over many calls, and the
// clock-setting data stage at every length.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "export_calls.h"
#include "fake_usb.h"
#include "tagport.h"

namespace tagport::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kCheckRequest = 122;
constexpr std::uint8_t kVersionRequest = 86;
constexpr std::uint8_t kReadTagRequest = 100;

class ReaderOverFakeBus : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseReader();
    fake_usb_reset();
  }
  void TearDown() override { EXPECT_EQ(fake_usb_misuses(), 0) << "a handle was used after close"; }

  static int PlugReader(int bus = 1) { return fake_usb_plug(bus, 0x16C0, 0x88DC); }

  static void Answer(std::uint8_t request, const Bytes& bytes) {
    fake_usb_answer(request, bytes.data(), bytes.size(), 0);
  }
  static void Fail(std::uint8_t request, int error) { fake_usb_answer(request, nullptr, 0, error); }
  // Every request answers nothing: with -error, or with zero bytes when error is 0.
  static void SilenceAll(int error) {
    for (int r = 0; r < 256; ++r) {
      fake_usb_answer(static_cast<std::uint8_t>(r), nullptr, 0, error);
    }
  }

  static Bytes Requests() {
    Bytes out;
    for (std::size_t i = 0; i < fake_usb_transfer_count(); ++i) {
      out.push_back(fake_usb_transfer_at(i)->request);
    }
    return out;
  }
};

TEST_F(ReaderOverFakeBus, UnansweredCheckEndsEveryTagOperationWithTwo) {
  PlugReader();
  for (int error : {ETIMEDOUT, EPIPE}) {
    Fail(kCheckRequest, error);
    for (const ExportCall& op : ExportCalls()) {
      if (!op.checked) {
        continue;
      }
      fake_usb_clear_log();
      std::array<std::uint8_t, 10> tag = {1, 2, 3, 4};
      EXPECT_EQ(op.run(tag.data()), 2) << op.name;
      EXPECT_EQ(Requests(), Bytes{kCheckRequest}) << op.name;
      EXPECT_EQ(tag, (std::array<std::uint8_t, 10>{1, 2, 3, 4})) << op.name;
    }
  }
}

TEST_F(ReaderOverFakeBus, UnansweredOperationGivesThreeWithoutCompletion) {
  PlugReader();
  // A time-out, and a reply with no bytes at all, both leave the preset status 1.
  for (int error : {ETIMEDOUT, 0}) {
    SilenceAll(error);
    Answer(kCheckRequest, {0});
    for (const ExportCall& op : ExportCalls()) {
      if (!op.checked) {
        continue;
      }
      fake_usb_clear_log();
      std::array<std::uint8_t, 10> tag = {9, 8, 7, 6};
      EXPECT_EQ(op.run(tag.data()), 3) << op.name << " error " << error;
      EXPECT_EQ(fake_usb_transfer_count(), 2u) << op.name << ": no completion after a failure";
      EXPECT_EQ(tag, (std::array<std::uint8_t, 10>{9, 8, 7, 6})) << op.name;
    }
  }
}

TEST_F(ReaderOverFakeBus, PlainOperationsSucceedWhateverTheReaderAnswers) {
  PlugReader();
  SilenceAll(ETIMEDOUT);
  for (const ExportCall& op : ExportCalls()) {
    if (!op.checked) {
      std::array<std::uint8_t, 10> out{};
      EXPECT_EQ(op.run(out.data()), 0) << op.name;
    }
  }
}

TEST_F(ReaderOverFakeBus, ShortRepliesHandOverWhatEarlierRepliesLeft) {
  PlugReader();
  Answer(kCheckRequest, {0});
  Answer(kReadTagRequest, {0, 0x11, 0x22, 0x33, 0x44});
  std::array<std::uint8_t, 4> tag{};
  ASSERT_EQ(ReadRFID(tag.data()), 0);

  // Three version bytes arrive; the rest of the buffer is still the tag reply
  // (status 0, then its data), and byte 8 is zero as always.
  Answer(kVersionRequest, {'A', 'B', 'C'});
  std::array<std::uint8_t, 10> version;
  version.fill(0xEE);
  EXPECT_EQ(GetReaderVersion(version.data()), 0);
  EXPECT_EQ(version, (std::array<std::uint8_t, 10>{'P', 'A', 'B', 'C', 0x33, 0x44, 0, 0, 0, 0}));

  // A tag reply cut after two data bytes still counts as status 0.
  Answer(kReadTagRequest, {0, 0x55, 0x66});
  EXPECT_EQ(ReadRFID(tag.data()), 0);
  EXPECT_EQ(tag, (std::array<std::uint8_t, 4>{0x55, 0x66, 0x33, 0x44}));
}

TEST_F(ReaderOverFakeBus, ReaderThatCannotBeOpenedIsNoReader) {
  for (fake_usb_open_mode mode : {FAKE_USB_OPEN_NULL, FAKE_USB_OPEN_DEAD}) {
    fake_usb_reset();
    const int first = PlugReader(1);
    const int second = PlugReader(2);
    fake_usb_set_open_mode(first, mode);

    EXPECT_EQ(OpenReader(0), 0) << mode;
    for (const ExportCall& op : ExportCalls()) {
      std::array<std::uint8_t, 10> out{};
      EXPECT_EQ(op.run(out.data()), 1) << op.name << " mode " << mode;
      EXPECT_EQ(out, (std::array<std::uint8_t, 10>{})) << op.name;
    }
    EXPECT_EQ(fake_usb_transfer_count(), 0u) << mode;
    EXPECT_EQ(fake_usb_opens(second), 0) << "only the first reader is tried";
    EXPECT_EQ(fake_usb_open_handles(), 0) << "a handle that did not open is given back";
  }
}

TEST_F(ReaderOverFakeBus, EachCallHoldsAtMostOneHandle) {
  PlugReader();
  const std::vector<std::function<void()>> calls = [] {
    std::vector<std::function<void()>> all;
    for (const ExportCall& op : ExportCalls()) {
      all.push_back([&op] {
        std::array<std::uint8_t, 10> out{};
        op.run(out.data());
      });
    }
    all.push_back([] { OpenReader(0); });
    all.push_back([] { CloseReader(); });
    return all;
  }();

  fake_usb_set_logging(0);
  for (int i = 0; i < 20000; ++i) {
    if (i == 10000) {
      fake_usb_unplug_all();  // the reader goes away for a while
    }
    if (i == 12000) {
      PlugReader();
    }
    calls[static_cast<std::size_t>(i) % calls.size()]();
    ASSERT_LE(fake_usb_open_handles(), 1) << "after call " << i;
  }
  EXPECT_EQ(fake_usb_peak_open_handles(), 1);

  OpenReader(0);
  EXPECT_EQ(fake_usb_open_handles(), 1);
  CloseReader();
  EXPECT_EQ(fake_usb_open_handles(), 0);

  // Closing does not stop the next call.
  std::array<std::uint8_t, 4> tag{};
  EXPECT_EQ(ReadRFID(tag.data()), 0);
}

TEST_F(ReaderOverFakeBus, OpenReaderIgnoresItsArgument) {
  PlugReader();
  for (std::int32_t argument : {0, 1, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(OpenReader(argument), 1) << argument;
  }
  EXPECT_EQ(fake_usb_transfer_count(), 0u);
}

TEST_F(ReaderOverFakeBus, ClockDataStageHasTheAskedLengthAndNothingBeyondTheBuffer) {
  PlugReader();
  // Leave 0xF1..0xF8 in the buffer's first eight bytes.
  Answer(kVersionRequest, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8});
  std::array<std::uint8_t, 10> version{};
  ASSERT_EQ(GetReaderVersion(version.data()), 0);

  for (unsigned length : {0u, 1u, 8u, 9u, 255u, 256u, 257u, 4096u, 65535u}) {
    fake_usb_clear_log();
    const std::array<std::uint8_t, 6> record = {static_cast<std::uint8_t>(length),
                                                static_cast<std::uint8_t>(length >> 8),
                                                0x34,
                                                0x12,
                                                0x78,
                                                0x56};
    ASSERT_EQ(SetRTC(record.data()), 0) << length;

    const fake_usb_transfer* clock = fake_usb_transfer_at(0);
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->request_type, 0x40);
    EXPECT_EQ(clock->value, 0x5678);
    EXPECT_EQ(clock->index, 0x1234);
    ASSERT_EQ(clock->length, length);
    Bytes expected(std::min(length, 256u), 0);
    for (std::size_t i = 0; i < expected.size() && i < 8; ++i) {
      expected[i] = i == 0 ? 1 : static_cast<std::uint8_t>(0xF1 + i);
    }
    EXPECT_EQ(Bytes(clock->data, clock->data + expected.size()), expected) << length;
    EXPECT_EQ(clock->nonzero_past_kept, 0u) << length;
    EXPECT_EQ(fake_usb_transfer_count(), 2u) << "the clock request, then the completion";
  }
}

}  // namespace
}  // namespace tagport::testing
