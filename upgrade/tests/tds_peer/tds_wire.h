// The TDS 7.4 wire as the pretend SQL Server speaks it: packets framed on a socket,
// the tokens of its replies, and the client's pre-login, login and requests decoded.
// Strict on purpose: whatever does not add up throws a Violation, which the server
// records and which fails the test. Private to the pretend server.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tds_peer.h"
#include "utf16.h"

namespace upgrade::testing::tds {

using Clock = std::chrono::steady_clock;

// Packet types, client to server and back.
inline constexpr std::uint8_t kSqlBatch = 0x01;
inline constexpr std::uint8_t kRpc = 0x03;
inline constexpr std::uint8_t kReply = 0x04;
inline constexpr std::uint8_t kAttention = 0x06;
inline constexpr std::uint8_t kTransactionManager = 0x0E;
inline constexpr std::uint8_t kLogin7 = 0x10;
inline constexpr std::uint8_t kPreLogin = 0x12;

inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kPacketSize = 4096;  // what FreeTDS asks for, and what the peer grants
inline constexpr std::uint32_t kTds74 = 0x74000004;

// Tokens the peer sends.
inline constexpr std::uint8_t kReturnStatus = 0x79;
inline constexpr std::uint8_t kColMetadata = 0x81;
inline constexpr std::uint8_t kError = 0xAA;
inline constexpr std::uint8_t kInfo = 0xAB;
inline constexpr std::uint8_t kLoginAck = 0xAD;
inline constexpr std::uint8_t kRow = 0xD1;
inline constexpr std::uint8_t kEnvChange = 0xE3;
inline constexpr std::uint8_t kDone = 0xFD;
inline constexpr std::uint8_t kDoneProc = 0xFE;
inline constexpr std::uint8_t kDoneInProc = 0xFF;

inline constexpr std::uint16_t kDoneMore = 0x01;
inline constexpr std::uint16_t kDoneError = 0x02;
inline constexpr std::uint16_t kDoneCount = 0x10;
inline constexpr std::uint16_t kDoneAttention = 0x20;

// Data types in RPC parameters and result columns.
inline constexpr std::uint8_t kIntN = 0x26;
inline constexpr std::uint8_t kNText = 0x63;
inline constexpr std::uint8_t kBitN = 0x68;
inline constexpr std::uint8_t kNVarChar = 0xE7;

inline constexpr std::uint16_t kSpExecuteSql = 10;
inline constexpr std::array<std::uint8_t, 5> kCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};

// Something the peer does not understand; ends the connection and fails the test.
struct Violation {
  std::string what;
};
// The client went away, or the peer has to stop.
struct ConnectionEnded {};

[[nodiscard]] std::string hex(unsigned value);

class Writer {
 public:
  Writer& u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Writer& u16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v & 0xFF)).u8(static_cast<std::uint8_t>(v >> 8));
  }
  Writer& u16be(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v & 0xFF));
  }
  Writer& u32(std::uint32_t v) {
    return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
  }
  Writer& u64(std::uint64_t v) {
    return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32));
  }
  template <typename Range>
  Writer& raw(const Range& range) {
    bytes_.insert(bytes_.end(), std::begin(range), std::end(range));
    return *this;
  }
  Writer& utf16(std::u16string_view text) {
    for (const char16_t unit : text) {
      u16(static_cast<std::uint16_t>(unit));
    }
    return *this;
  }
  Writer& bVarChar(std::u16string_view text) {
    return u8(static_cast<std::uint8_t>(text.size())).utf16(text);
  }
  Writer& usVarChar(std::u16string_view text) {
    return u16(static_cast<std::uint16_t>(text.size())).utf16(text);
  }
  // A token whose body follows its 16-bit length.
  Writer& sized(std::uint8_t token, const Writer& body) {
    return u8(token).u16(static_cast<std::uint16_t>(body.bytes_.size())).raw(body.bytes_);
  }
  [[nodiscard]] const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// The tokens of a reply.
inline Bytes descriptorBytes(std::uint64_t descriptor) {
  Writer w;
  w.u64(descriptor);
  return w.bytes();
}

// ENVCHANGE with binary values (collation, transactions).
inline void envChange(Writer& out, std::uint8_t type, const Bytes& now, const Bytes& before) {
  Writer body;
  body.u8(type).u8(static_cast<std::uint8_t>(now.size())).raw(now);
  body.u8(static_cast<std::uint8_t>(before.size())).raw(before);
  out.sized(kEnvChange, body);
}

// ENVCHANGE with text values (database, language, packet size).
inline void envChange(Writer& out, std::uint8_t type, std::u16string_view now,
                      std::u16string_view before) {
  Writer body;
  body.u8(type).bVarChar(now).bVarChar(before);
  out.sized(kEnvChange, body);
}

inline void message(Writer& out, std::uint8_t token, std::int32_t number, std::uint8_t severity,
                    std::u16string_view text) {
  Writer body;
  body.u32(static_cast<std::uint32_t>(number)).u8(1).u8(severity).usVarChar(text);
  body.bVarChar(u"TDSPEER").bVarChar(u"").u32(1);
  out.sized(token, body);
}

inline void done(Writer& out, std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0) {
  out.u8(token).u16(status).u16(0xC1).u64(rows);
}

// Columns of NVARCHAR(50), or one unnamed INTN(4) when names is empty; then the rows.
inline void resultSet(Writer& out, const std::vector<std::u16string>& names,
                      const std::vector<std::vector<std::u16string>>& rows) {
  out.u8(kColMetadata);
  if (names.empty()) {
    out.u16(1).u32(0).u16(0x0000).u8(kIntN).u8(4).bVarChar(u"");
  } else {
    out.u16(static_cast<std::uint16_t>(names.size()));
    for (const auto& name : names) {
      out.u32(0).u16(0x0001).u8(kNVarChar).u16(100).raw(kCollation).bVarChar(name);
    }
  }
  for (const auto& row : rows) {
    out.u8(kRow);
    for (const auto& value : row) {
      if (names.empty()) {
        out.u8(4).u32(static_cast<std::uint32_t>(std::stoi(text::toUtf8(value))));
      } else {
        out.u16(static_cast<std::uint16_t>(value.size() * 2)).utf16(value);
      }
    }
  }
  done(out, kDone, kDoneCount, rows.size());
}

// A byte stream that ends with the peer's lifetime or its stop pipe.
// Waits until fd has something to read (or has hung up). False when stopFd fires,
// the wait fails or the deadline passes.
inline bool awaitReadable(int fd, int stopFd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    std::array<pollfd, 2> entries{pollfd{fd, POLLIN, 0}, pollfd{stopFd, POLLIN, 0}};
    const int ready = ::poll(entries.data(), entries.size(), static_cast<int>(left.count()));
    if (ready < 0 || (entries[1].revents & POLLIN) != 0) {
      return false;
    }
    if (ready > 0) {
      return true;
    }
  }
}

class Link {
 public:
  Link(int fd, int stopFd, Clock::time_point deadline)
      : fd_(fd), stopFd_(stopFd), deadline_(deadline) {}

  // One whole message. Throws ConnectionEnded at the end of the stream, on stop or
  // at the deadline, and Violation for a packet that is not well formed.
  std::pair<std::uint8_t, Bytes> receive() {
    std::uint8_t type = 0;
    Bytes payload;
    for (bool first = true;; first = false) {
      std::array<std::uint8_t, kHeaderSize> header{};
      readExactly(header.data(), header.size());
      const size_t length = static_cast<size_t>(header[2]) << 8 | header[3];
      const std::uint8_t status = header[1];
      if (length < kHeaderSize || length > kPacketSize) {
        throw Violation{"packet of type " + hex(header[0]) + " with length " +
                        std::to_string(length)};
      }
      if ((status & ~0x01) != 0) {
        throw Violation{"packet of type " + hex(header[0]) + " with status " + hex(status)};
      }
      if (first) {
        type = header[0];
        if (type != kSqlBatch && type != kRpc && type != kAttention &&
            type != kTransactionManager && type != kLogin7 && type != kPreLogin) {
          throw Violation{"unknown packet type " + hex(type)};
        }
      } else if (header[0] != type) {
        throw Violation{"packet of type " + hex(header[0]) + " continues a message of type " +
                        hex(type)};
      }
      const size_t start = payload.size();
      payload.resize(start + length - kHeaderSize);
      readExactly(payload.data() + start, length - kHeaderSize);
      if ((status & 0x01) != 0) {
        return {type, std::move(payload)};
      }
    }
  }

  void send(const Bytes& payload) {
    size_t at = 0;
    do {
      const size_t chunk = std::min(payload.size() - at, kPacketSize - kHeaderSize);
      const size_t length = chunk + kHeaderSize;
      const bool last = at + chunk == payload.size();
      Bytes packet = {kReply,
                      static_cast<std::uint8_t>(last ? 0x01 : 0x00),
                      static_cast<std::uint8_t>(length >> 8),
                      static_cast<std::uint8_t>(length & 0xFF),
                      0x00,
                      0x33,  // the session id
                      ++packetId_,
                      0x00};
      packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                    payload.begin() + static_cast<std::ptrdiff_t>(at + chunk));
      sendRaw(packet);
      at += chunk;
    } while (at < payload.size());
  }

  void sendRaw(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) {
        throw ConnectionEnded{};
      }
      done += static_cast<size_t>(sent);
    }
  }

 private:
  void readExactly(std::uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      if (!awaitReadable(fd_, stopFd_, deadline_)) {
        throw ConnectionEnded{};
      }
      const ssize_t got = ::recv(fd_, out + done, size - done, 0);
      if (got <= 0) {
        throw ConnectionEnded{};
      }
      done += static_cast<size_t>(got);
    }
  }

  int fd_;
  int stopFd_;
  Clock::time_point deadline_;
  std::uint8_t packetId_ = 0;
};

// The option table of a PRELOGIN message; the client must not ask for encryption,
// which the peer does not offer.
void checkPreLogin(const Bytes& payload);
// The pre-login answer: version 15.0.2000, encryption not supported, no instance
// check, no MARS.
[[nodiscard]] Bytes preLoginReply();
// A LOGIN7 message whose length field and fields agree with it, decoded.
[[nodiscard]] CapturedLogin decodeLogin(const Bytes& login);
// A SQL batch, an RPC (sp_executesql only) or a transaction manager request.
[[nodiscard]] TdsRequest decodeRequest(std::uint8_t type, const Bytes& payload);

}  // namespace upgrade::testing::tds
