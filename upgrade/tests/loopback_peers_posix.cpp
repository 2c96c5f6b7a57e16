#include "loopback_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <stdexcept>

#include "loopback_sockets.h"
#include "utf16.h"

namespace upgrade::testing {
namespace {

// Long enough never to fire in a healthy run; only keeps a broken test from hanging.
constexpr int kSafetyTimeoutMs = 20000;

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits until fd is readable; false if the stop pipe fired or the safety time ran out.
bool waitReadable(int fd, int stopFd) {
  std::array<pollfd, 2> entries{pollfd{fd, POLLIN, 0}, pollfd{stopFd, POLLIN, 0}};
  const int ready = ::poll(entries.data(), entries.size(), kSafetyTimeoutMs);
  return ready > 0 && (entries[1].revents & POLLIN) == 0 && entries[0].revents != 0;
}

}  // namespace

namespace sockets {

Fd bound(Kind kind, std::uint16_t& port) {
  const int type = kind == Kind::Datagram ? SOCK_DGRAM : SOCK_STREAM;
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    throw std::runtime_error("socket() failed");
  }
  sockaddr_in address = loopback(0);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind() failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

void answerDatagrams(int fd, int stopFd,
                     const std::function<std::vector<Bytes>(const Bytes& request)>& answer) {
  for (;;) {
    if (!waitReadable(fd, stopFd)) {
      return;
    }
    Bytes request(65535);
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t got = ::recvfrom(fd, request.data(), request.size(), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got < 0) {
      continue;
    }
    request.resize(static_cast<size_t>(got));
    for (const auto& datagram : answer(request)) {
      ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&sender),
               senderLength);
    }
  }
}

}  // namespace sockets

namespace {

bool readExactly(int fd, int stopFd, std::uint8_t* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (!waitReadable(fd, stopFd)) {
      return false;
    }
    const ssize_t got = ::recv(fd, out + done, size - done, 0);
    if (got <= 0) {
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

struct TdsMessage {
  std::uint8_t type = 0;
  Bytes payload;
};

// One TDS message: packets of an 8-byte header (type, status, big-endian length...)
// and data, until the packet whose status marks the end of the message.
std::optional<TdsMessage> readMessage(int fd, int stopFd) {
  TdsMessage message;
  for (;;) {
    std::array<std::uint8_t, 8> header{};
    if (!readExactly(fd, stopFd, header.data(), header.size())) {
      return std::nullopt;
    }
    const size_t length = static_cast<size_t>(header[2]) << 8 | header[3];
    if (length < header.size()) {
      return std::nullopt;
    }
    message.type = header[0];
    const size_t start = message.payload.size();
    message.payload.resize(start + length - header.size());
    if (!readExactly(fd, stopFd, message.payload.data() + start, length - header.size())) {
      return std::nullopt;
    }
    if ((header[1] & 0x01) != 0) {
      return message;
    }
  }
}

void sendAll(int fd, const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) {
      return;
    }
    done += static_cast<size_t>(sent);
  }
}

// A pre-login answer: version, encryption "not supported" and MARS "off". Without
// the MARS option FreeTDS would take the server for SQL Server 2000 and log in
// with TDS 7.1.
Bytes preLoginResponse() {
  const Bytes options = {
      0x00, 0x00, 16,   0x00, 6,           // VERSION at 16, 6 bytes
      0x01, 0x00, 22,   0x00, 1,           // ENCRYPTION at 22, 1 byte
      0x04, 0x00, 23,   0x00, 1,           // MARS at 23, 1 byte
      0xFF,                                // end of options
      0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00,  // version 15.0.2000
      0x02,                                // ENCRYPT_NOT_SUP
      0x00,                                // no MARS
  };
  Bytes packet = {0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
  const size_t length = packet.size() + options.size();
  packet[2] = static_cast<std::uint8_t>(length >> 8);
  packet[3] = static_cast<std::uint8_t>(length & 0xFF);
  packet.insert(packet.end(), options.begin(), options.end());
  return packet;
}

std::uint16_t le16(const Bytes& data, size_t at) {
  return static_cast<std::uint16_t>(data.at(at) | data.at(at + 1) << 8);
}

// A UTF-16LE field of LOGIN7 given by its offset/length pair at `at`. The password
// is scrambled: each byte had its nibbles swapped and was XORed with 0xA5.
std::string loginField(const Bytes& login, size_t at, bool scrambled = false) {
  const size_t offset = le16(login, at);
  const size_t units = le16(login, at + 2);
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    std::array<std::uint8_t, 2> unit = {login.at(offset + 2 * i), login.at(offset + 2 * i + 1)};
    if (scrambled) {
      for (auto& byte : unit) {
        byte ^= 0xA5;
        byte = static_cast<std::uint8_t>((byte & 0x0F) << 4 | byte >> 4);
      }
    }
    text += static_cast<char16_t>(unit[0] | unit[1] << 8);
  }
  return text::toUtf8(text);
}

CapturedLogin decodeLogin(const Bytes& login) {
  CapturedLogin captured;
  captured.tdsVersion =
      static_cast<std::uint32_t>(login.at(4)) | static_cast<std::uint32_t>(login.at(5)) << 8 |
      static_cast<std::uint32_t>(login.at(6)) << 16 | static_cast<std::uint32_t>(login.at(7)) << 24;
  captured.hostName = loginField(login, 36);
  captured.userName = loginField(login, 40);
  captured.password = loginField(login, 44, true);
  captured.appName = loginField(login, 48);
  captured.serverName = loginField(login, 52);
  captured.database = loginField(login, 68);
  return captured;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void Worker::start(std::function<void(int stopFd)> serve) {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2() failed");
  }
  stopRead_ = Fd(fds[0]);
  stopWrite_ = Fd(fds[1]);
  thread_ = std::thread([serve = std::move(serve), stopFd = fds[0]] { serve(stopFd); });
}

void Worker::stop() {
  if (thread_.joinable()) {
    const char byte = 'x';
    [[maybe_unused]] const ssize_t written = ::write(stopWrite_.get(), &byte, 1);
    thread_.join();
  }
}

PretendSqlServer::PretendSqlServer() : listener_(sockets::bound(sockets::Kind::Stream, port_)) {
  if (::listen(listener_.get(), 8) != 0) {
    throw std::runtime_error("listen() failed");
  }
  worker_.start([this](int stopFd) {
    for (;;) {
      if (!waitReadable(listener_.get(), stopFd)) {
        return;
      }
      Fd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.get() < 0) {
        continue;
      }
      ++connections_;
      serveClient(client.get(), stopFd);
    }
  });
}

void PretendSqlServer::serveClient(int client, int stopFd) {
  const auto preLogin = readMessage(client, stopFd);
  if (!preLogin || preLogin->type != 0x12) {
    return;
  }
  sendAll(client, preLoginResponse());
  const auto login = readMessage(client, stopFd);
  if (!login || login->type != 0x10) {
    return;
  }
  try {
    CapturedLogin captured = decodeLogin(login->payload);
    const std::lock_guard lock(mutex_);
    logins_.push_back(std::move(captured));
  } catch (const std::out_of_range&) {
    // a malformed login is simply not recorded; the test then sees none
  }
}

std::vector<CapturedLogin> PretendSqlServer::logins() const {
  const std::lock_guard lock(mutex_);
  return logins_;
}

Fd listeningLoopbackSocket(std::uint16_t& port) {
  Fd listener = sockets::bound(sockets::Kind::Stream, port);
  if (::listen(listener.get(), 8) != 0) {
    throw std::runtime_error("listen() failed");
  }
  return listener;
}

CapturedLogin decodeTdsLogin(const Bytes& login) {
  return decodeLogin(login);
}

}  // namespace upgrade::testing
