// The reader's sixteen exports over the fake libusb: random devices on the bus, how
// they open, and what the reader answers to each request (bytes, short replies,
// errors), then random calls with random arrays. For every call:
//  - the result code is in the range the header documents for that export;
//  - on failure the caller's array is untouched (GetLimitInfo's 32 writes its first
//    two bytes), and no byte past the export's array size is ever touched;
//  - at most three requests are sent, each with the 3000 ms time-out;
//  - at most one handle is open, and no handle is used after it was closed.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fake_usb.h"
#include "fuzz_check.h"
#include "tagport.h"

namespace {

enum class Kind { Open, Close, Plain, Tag, ReadOnlyTag, LimitInfo };

struct Export {
  const char* name;
  Kind kind;
  std::size_t arraySize;
  std::int32_t (*call)(std::uint8_t*);
};

template <std::int32_t (*F)(const std::uint8_t*)>
std::int32_t readOnly(std::uint8_t* bytes) {
  return F(bytes);
}

const std::array<Export, 16> kExports = {{
    {"OpenReader", Kind::Open, 0, [](std::uint8_t*) { return OpenReader(0); }},
    {"CloseReader", Kind::Close, 0,
     [](std::uint8_t*) {
       CloseReader();
       return std::int32_t{0};
     }},
    {"GetReaderVersion", Kind::Plain, 10, GetReaderVersion},
    {"ReadRFID", Kind::Tag, 4, ReadRFID},
    {"SetCard", Kind::Tag, 4, SetCard},
    {"SetCard2", Kind::Tag, 4, SetCard2},
    {"ClearCard", Kind::Tag, 4, ClearCard},
    {"ClearCard2", Kind::Tag, 4, ClearCard2},
    {"GetHandId", Kind::Tag, 4, GetHandId},
    {"SetHandId", Kind::ReadOnlyTag, 4, readOnly<SetHandId>},
    {"GetHandType", Kind::Tag, 4, GetHandType},
    {"SetHandType", Kind::ReadOnlyTag, 4, readOnly<SetHandType>},
    {"WriteLimitCard", Kind::ReadOnlyTag, 4, readOnly<WriteLimitCard>},
    {"GetLimitInfo", Kind::LimitInfo, 4, GetLimitInfo},
    {"GetRTC", Kind::Plain, 6, GetRTC},
    {"SetRTC", Kind::ReadOnlyTag, 6, readOnly<SetRTC>},
}};

constexpr std::array<int, 5> kErrors = {0, ETIMEDOUT, EPIPE, EIO, ENODEV};

bool resultInRange(const Export& e, std::int32_t result) {
  switch (e.kind) {
    case Kind::Open:
    case Kind::Plain:
      return result == 0 || result == 1;
    case Kind::Close:
      return true;
    case Kind::Tag:
    case Kind::ReadOnlyTag:
      // SetRTC has no check and no status: like the plain exports.
      if (e.arraySize == 6) {
        return result == 0 || result == 1;
      }
      return result >= 0 && result <= 257;
    case Kind::LimitInfo:
      return result >= 0 && result <= 257;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  CloseReader();
  fake_usb_reset();

  const int devices = in.ConsumeIntegralInRange(0, static_cast<int>(FAKE_USB_MAX_DEVICES));
  for (int d = 0; d < devices; ++d) {
    const int bus = in.ConsumeIntegralInRange(1, 4);
    const bool reader = in.ConsumeBool();
    const int index = fake_usb_plug(bus, reader ? 0x16C0 : in.ConsumeIntegral<std::uint16_t>(),
                                    reader ? 0x88DC : in.ConsumeIntegral<std::uint16_t>());
    fake_usb_set_open_mode(index, static_cast<fake_usb_open_mode>(in.ConsumeIntegralInRange(0, 2)));
  }
  const int answers = in.ConsumeIntegralInRange(0, 16);
  for (int a = 0; a < answers; ++a) {
    // Mostly the requests the library sends, sometimes any.
    static constexpr std::array<std::uint8_t, 15> kRequests = {
        86, 100, 101, 102, 103, 106, 107, 111, 122, 128, 142, 145, 146, 200, 201};
    const std::uint8_t request =
        in.ConsumeBool() ? in.PickValueInArray(kRequests) : in.ConsumeIntegral<std::uint8_t>();
    std::array<std::uint8_t, FAKE_USB_REPLY_MAX> reply{};
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, FAKE_USB_REPLY_MAX);
    for (std::size_t i = 0; i < count; ++i) {
      reply[i] = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::uint8_t>();
    }
    fake_usb_answer(request, reply.data(), count, in.PickValueInArray(kErrors));
  }

  while (in.remaining_bytes() > 0) {
    const Export& e = kExports[in.ConsumeIntegralInRange<std::size_t>(0, kExports.size() - 1)];
    // A guard byte pattern past the export's own bytes shows any write beyond them.
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = i < e.arraySize ? in.ConsumeIntegral<std::uint8_t>() : std::uint8_t{0xA5};
    }
    const std::array<std::uint8_t, 16> given = bytes;

    fake_usb_clear_log();
    const std::int32_t result = e.call(bytes.data());
    const std::string call = std::string(e.name) + " returned " + std::to_string(result);

    FUZZ_CHECK(resultInRange(e, result), call);
    for (std::size_t i = e.arraySize; i < bytes.size(); ++i) {
      FUZZ_CHECK(bytes[i] == 0xA5, call + ": wrote past its array");
    }
    const bool readOnlyArray = e.kind == Kind::ReadOnlyTag;
    const bool failed = (e.kind == Kind::Tag || e.kind == Kind::LimitInfo || e.kind == Kind::Plain)
                            ? result != 0
                            : false;
    if (readOnlyArray || failed) {
      const std::size_t from = (e.kind == Kind::LimitInfo && result == 32) ? 2 : 0;
      for (std::size_t i = from; i < e.arraySize; ++i) {
        FUZZ_CHECK(bytes[i] == given[i], call + ": array changed at byte " + std::to_string(i));
      }
    }
    const std::size_t sent = fake_usb_transfer_count();
    FUZZ_CHECK(sent <= 3, call + " after " + std::to_string(sent) + " requests");
    if (e.kind == Kind::Open || e.kind == Kind::Close) {
      FUZZ_CHECK(sent == 0, call + " sent a request");
    }
    for (std::size_t i = 0; i < sent; ++i) {
      FUZZ_CHECK(fake_usb_transfer_at(i)->timeout == 3000, call + ": a time-out other than 3 s");
    }
    FUZZ_CHECK(fake_usb_peak_open_handles() <= 1, call + ": two handles open at once");
    FUZZ_CHECK(fake_usb_misuses() == 0, call + ": a handle used after it was closed");
  }
  return 0;
}
