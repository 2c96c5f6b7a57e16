// The USB link to the reader: discovery, the two transfer primitives and the reply
// buffer. The reader handle (inside usb_link.cpp) and the reply buffer are all the state
// tagport has; both are zero when the library is loaded.
#pragma once

#include <array>
#include <cstdint>

namespace tagport {

inline constexpr std::uint16_t kReaderVendor = 0x16C0;
inline constexpr std::uint16_t kReaderProduct = 0x88DC;
inline constexpr int kTransferTimeoutMs = 3000;

// The data area of every transfer, IN and OUT, as long as the longest data stage a
// request can carry. No reply is longer than eight bytes, so IN transfers fill at most
// the first eight and byte 8 onwards stays zero for the life of the process; an OUT
// stage longer than any reply is that reply, then zeros. Byte 0 is the status byte of
// requests whose reply carries one.
inline constexpr std::size_t kReplyBufferSize = 0xFFFF;
extern constinit std::array<std::uint8_t, kReplyBufferSize> g_reply;

// Closes the handle from the last discovery, then enumerates every bus anew and
// opens the first device, in bus order, that has the reader's identifiers. Returns
// whether a reader is open afterwards. A first reader that cannot be opened gives
// false even when a second one could be.
bool ConnectReader();

// Closes and forgets the reader handle, if any. Sends nothing.
void ReleaseReader();

// Vendor IN request into the reply buffer. A failed, timed-out or short transfer
// leaves the buffer as it was beyond what arrived; callers see failures only through
// the status byte they preset.
void ReaderIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t length);

// Vendor OUT request whose data stage is the first `length` bytes of the reply
// buffer, followed by zeros when `length` runs past its end.
void ReaderOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
               std::uint16_t length);

}  // namespace tagport
