// The pretend server must refuse what it does not understand, so that a change in
// the driver shows up in the tests instead of being absorbed. Each case sends one
// malformed message by hand after a minimal login.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire_session.h"

namespace upgrade::testing {
namespace {

Bytes packet(std::uint8_t type, const Bytes& payload, size_t length = 0) {
  length = length != 0 ? length : payload.size() + 8;
  Bytes out = {type,
               0x01,
               static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(length & 0xFF),
               0,
               0,
               1,
               0};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// ALL_HEADERS with one transaction descriptor, as FreeTDS sends it.
Bytes headers(std::uint8_t descriptor) {
  return {22, 0, 0, 0, 18, 0, 0, 0, 2, 0, descriptor, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class RawClient {
 public:
  explicit RawClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }

  void send(const Bytes& bytes) {
    EXPECT_EQ(::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads whole reply packets; false when the peer closed the connection instead.
  bool reply() {
    for (;;) {
      std::array<std::uint8_t, 8> header{};
      if (!read(header.data(), header.size())) {
        return false;
      }
      Bytes body(static_cast<size_t>(header[2] << 8 | header[3]) - header.size());
      if (!read(body.data(), body.size())) {
        return false;
      }
      if ((header[1] & 0x01) != 0) {
        return true;
      }
    }
  }

  // A pre-login with no options, and a LOGIN7 whose fields are all empty.
  void logIn() {
    send(packet(0x12, {0xFF}));
    ASSERT_TRUE(reply());
    Bytes login(94, 0);
    login[0] = 94;
    login[4] = 0x04;
    login[7] = 0x74;
    send(packet(0x10, login));
    ASSERT_TRUE(reply());
  }

 private:
  bool read(std::uint8_t* out, size_t size) {
    for (size_t done = 0; done < size;) {
      const ssize_t got = ::recv(fd_.get(), out + done, size - done, 0);
      if (got <= 0) {
        return false;
      }
      done += static_cast<size_t>(got);
    }
    return true;
  }

  Fd fd_;
};

TEST(TdsPeerStrictness, WhatThePeerDoesNotUnderstandEndsTheConnectionAndIsRecorded) {
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {packet(0x05, {}), "unknown packet type 0x05"},
      {packet(0x01, headers(0), 4), "with length 4"},
      {packet(0x01, headers(7) + Bytes{'x', 0}), "carries descriptor 7"},
      {packet(0x01, headers(0) + Bytes{'x'}), "odd length"},
      {packet(0x03, headers(0) + Bytes{0xFF, 0xFF, 11, 0, 0, 0}), "procedure id 11"},
      {packet(0x0E, headers(0) + Bytes{9, 0, 0}), "request type 9"},
      {packet(0x0E, headers(0) + Bytes{5, 0, 0, 0, 0}), "bytes left over"},
  };
  for (const auto& [message, violation] : cases) {
    SCOPED_TRACE(violation);
    TdsPeer peer;
    RawClient client(peer.port());
    client.logIn();
    client.send(message);
    EXPECT_FALSE(client.reply());  // closed: by then the violation is recorded
    const auto seen = peer.violations();
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_NE(seen[0].find(violation), std::string::npos) << seen[0];
  }
}

}  // namespace
}  // namespace upgrade::testing
