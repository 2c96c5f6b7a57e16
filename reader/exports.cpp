// The sixteen exports, each a short fixed sequence of requests on the link.
#include <cstring>

#include "tagport.h"
#include "tagport_check_code.h"
#include "usb_link.h"

namespace tagport {
namespace {

// Request numbers.
enum Request : std::uint8_t {
  kVersion = 86,
  kReadTag = 100,
  kReadHandId = 101,
  kReadHandType = 102,
  kReadLimitSecond = 103,
  kWriteHandId = 106,
  kWriteHandType = 107,
  kCompletion = 111,
  kCheck = 122,
  kWriteLimit = 128,
  kClear = 142,
  kSetCard = 145,
  kSetCard2 = 146,
  kReadClock = 200,
  kSetClock = 201,
};

// Lengths of the replies asked for.
constexpr std::uint8_t kStatusOnly = 1;
constexpr std::uint8_t kStatusAndData = 5;
constexpr std::uint8_t kVersionLength = 8;
constexpr std::uint8_t kClockLength = 7;

constexpr std::int32_t kSuccess = 0;
constexpr std::int32_t kNoReader = 1;
constexpr std::int32_t kNotALimitCard = 16;
constexpr std::int32_t kLimitSecondFailed = 32;
constexpr std::uint8_t kLimitCardMark = 0x70;

constexpr std::size_t kTagSize = 4;

// A request whose reply starts with a status byte. The status is preset to 1, so a
// transfer that fails, times out or returns nothing reads as failure status 1.
std::uint8_t StatusRequest(Request request, std::uint16_t value, std::uint16_t index,
                           std::uint8_t length) {
  g_reply[0] = 1;
  ReaderIn(request, value, index, length);
  return g_reply[0];
}

// 0 when the tag operation may go on, otherwise its result (2 to 256).
std::int32_t PreCheck() {
  const std::uint8_t status = StatusRequest(kCheck, kCheckCodeFirst, kCheckCodeSecond, kStatusOnly);
  return status == 0 ? kSuccess : status + 1;
}

std::int32_t OperationFailure(std::uint8_t status) {
  return status + 2;
}

void Completion() {
  ReaderIn(kCompletion, 1, 0, 0);
}

// Each pair of the caller's bytes is one big-endian word: wValue from bytes 0 and 1,
// wIndex from bytes 2 and 3.
struct CallerPair {
  std::uint16_t value;
  std::uint16_t index;
};
CallerPair PairOf(const std::uint8_t* tag) {
  return {static_cast<std::uint16_t>(tag[0] << 8 | tag[1]),
          static_cast<std::uint16_t>(tag[2] << 8 | tag[3])};
}

// Discovery and the check that begin every tag operation: 0 when it may go on.
std::int32_t StartTagOperation() {
  return ConnectReader() ? PreCheck() : kNoReader;
}

// A tag operation whose request is answered with status and four data bytes, which
// replace the caller's array on success.
std::int32_t ExchangeFour(Request request, CallerPair pair, std::uint8_t* tag) {
  if (const std::int32_t start = StartTagOperation(); start != kSuccess) {
    return start;
  }
  if (const std::uint8_t status = StatusRequest(request, pair.value, pair.index, kStatusAndData);
      status != 0) {
    return OperationFailure(status);
  }
  std::memcpy(tag, &g_reply[1], kTagSize);
  return kSuccess;
}

// A tag operation that writes the caller's four bytes and is answered with a status
// alone; the completion request follows a write the reader accepted.
std::int32_t WriteFour(Request request, const std::uint8_t* tag) {
  if (const std::int32_t start = StartTagOperation(); start != kSuccess) {
    return start;
  }
  const CallerPair pair = PairOf(tag);
  if (const std::uint8_t status = StatusRequest(request, pair.value, pair.index, kStatusOnly);
      status != 0) {
    return OperationFailure(status);
  }
  Completion();
  return kSuccess;
}

}  // namespace
}  // namespace tagport

using namespace tagport;

extern "C" {

int32_t TAGPORT_CALL OpenReader(int32_t /*unused*/) {
  return ConnectReader() ? 1 : 0;
}

void TAGPORT_CALL CloseReader(void) {
  ReleaseReader();
}

int32_t TAGPORT_CALL GetReaderVersion(uint8_t* version) {
  if (!ConnectReader()) {
    return kNoReader;
  }
  ReaderIn(kVersion, 0, 0, kVersionLength);
  version[0] = 'P';
  std::memcpy(&version[1], g_reply.data(), kVersionLength + 1);  // byte 8 is always 0
  Completion();
  return kSuccess;
}

int32_t TAGPORT_CALL ReadRFID(uint8_t* tag) {
  return ExchangeFour(kReadTag, {0, 0}, tag);
}

int32_t TAGPORT_CALL SetCard(uint8_t* tag) {
  return ExchangeFour(kSetCard, PairOf(tag), tag);
}

int32_t TAGPORT_CALL SetCard2(uint8_t* tag) {
  return ExchangeFour(kSetCard2, PairOf(tag), tag);
}

int32_t TAGPORT_CALL ClearCard(uint8_t* tag) {
  return ExchangeFour(kClear, {1, 0}, tag);
}

int32_t TAGPORT_CALL ClearCard2(uint8_t* tag) {
  return ExchangeFour(kClear, {2, 0}, tag);
}

int32_t TAGPORT_CALL GetHandId(uint8_t* tag) {
  return ExchangeFour(kReadHandId, {0, 0}, tag);
}

int32_t TAGPORT_CALL SetHandId(const uint8_t* tag) {
  return WriteFour(kWriteHandId, tag);
}

int32_t TAGPORT_CALL GetHandType(uint8_t* tag) {
  return ExchangeFour(kReadHandType, {0, 0}, tag);
}

int32_t TAGPORT_CALL SetHandType(const uint8_t* tag) {
  return WriteFour(kWriteHandType, tag);
}

int32_t TAGPORT_CALL WriteLimitCard(const uint8_t* tag) {
  return WriteFour(kWriteLimit, tag);
}

int32_t TAGPORT_CALL GetLimitInfo(uint8_t* tag) {
  if (const std::int32_t start = StartTagOperation(); start != kSuccess) {
    return start;
  }
  // The first half is the hand-type request; its third data byte marks a limit card.
  if (const std::uint8_t status = StatusRequest(kReadHandType, 0, 0, kStatusAndData); status != 0) {
    return OperationFailure(status);
  }
  if (g_reply[3] != kLimitCardMark) {
    return kNotALimitCard;
  }
  tag[0] = g_reply[1];
  tag[1] = g_reply[2];
  if (StatusRequest(kReadLimitSecond, 0, 0, kStatusAndData) != 0) {
    return kLimitSecondFailed;
  }
  tag[2] = g_reply[2];
  tag[3] = g_reply[3];
  return kSuccess;
}

int32_t TAGPORT_CALL GetRTC(uint8_t* clock) {
  if (!ConnectReader()) {
    return kNoReader;
  }
  ReaderIn(kReadClock, 0, 0, kClockLength);
  // Reply byte 5 is not passed on.
  clock[0] = g_reply[6];
  clock[1] = g_reply[4];
  clock[2] = g_reply[3];
  clock[3] = g_reply[2];
  clock[4] = g_reply[1];
  clock[5] = g_reply[0];
  Completion();
  return kSuccess;
}

int32_t TAGPORT_CALL SetRTC(const uint8_t* record) {
  if (!ConnectReader()) {
    return kNoReader;
  }
  const auto word = [record](int i) {
    return static_cast<std::uint16_t>(record[2 * i] | record[2 * i + 1] << 8);
  };
  g_reply[0] = 1;
  ReaderOut(kSetClock, word(2), word(1), word(0));
  Completion();
  return kSuccess;
}

}  // extern "C"
