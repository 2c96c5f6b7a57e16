// 100,000 calls through tagport's sixteen exports in turn, over the fake bus with a
// reader that answers everything: open descriptors, resident memory and the most
// handles held at once, every 10,000 calls. Flat figures mean nothing is kept per call.
#include <array>
#include <cstdint>
#include <cstdio>

#include "fake_usb.h"
#include "process_figures.h"
#include "tagport.h"

namespace {

void callExport(int which, std::uint8_t* bytes) {
  switch (which) {
    case 0:
      (void)OpenReader(0);
      break;
    case 1:
      CloseReader();
      break;
    case 2:
      (void)GetReaderVersion(bytes);
      break;
    case 3:
      (void)ReadRFID(bytes);
      break;
    case 4:
      (void)SetCard(bytes);
      break;
    case 5:
      (void)SetCard2(bytes);
      break;
    case 6:
      (void)ClearCard(bytes);
      break;
    case 7:
      (void)ClearCard2(bytes);
      break;
    case 8:
      (void)GetHandId(bytes);
      break;
    case 9:
      (void)SetHandId(bytes);
      break;
    case 10:
      (void)GetHandType(bytes);
      break;
    case 11:
      (void)SetHandType(bytes);
      break;
    case 12:
      (void)WriteLimitCard(bytes);
      break;
    case 13:
      (void)GetLimitInfo(bytes);
      break;
    case 14:
      (void)GetRTC(bytes);
      break;
    default:
      (void)SetRTC(bytes);
      break;
  }
}

}  // namespace

int main() {
  constexpr int kCalls = 100'000;
  constexpr int kStep = 10'000;
  fake_usb_reset();
  fake_usb_plug(1, 0x16C0, 0x88DC);
  fake_usb_set_logging(0);
  const std::array<std::uint8_t, 5> statusAndData{0, 1, 0x70, 3, 4};
  for (const int request : {100, 101, 102, 103, 106, 107, 122, 128, 142, 145, 146}) {
    fake_usb_answer(static_cast<std::uint8_t>(request), statusAndData.data(), statusAndData.size(),
                    0);
  }

  std::printf("reader soak: %d calls cycling through the 16 exports (fake bus)\n", kCalls);
  std::printf("%10s %10s %12s %14s\n", "calls", "open fds", "RSS KiB", "peak handles");
  std::printf("%10d %10zu %12zu %14d\n", 0, soak::openDescriptors(), soak::residentKiB(),
              fake_usb_peak_open_handles());
  std::array<std::uint8_t, 10> bytes{};
  for (int call = 1; call <= kCalls; ++call) {
    bytes = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0};  // SetRTC: a 1-byte data stage
    callExport(call % 16, bytes.data());
    if (call % kStep == 0) {
      std::printf("%10d %10zu %12zu %14d\n", call, soak::openDescriptors(), soak::residentKiB(),
                  fake_usb_peak_open_handles());
    }
  }
  return 0;
}
