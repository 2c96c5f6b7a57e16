// The loopback peers' sockets over Winsock, for the Windows build: a pair of UDP
// sockets on 127.0.0.1 stands in for the stop pipe. The pretend SQL Server is left
// out: the only tests that use it drive the FreeTDS driver, which exists on Linux
// alone.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <stdexcept>

#include "loopback_sockets.h"

namespace upgrade::testing {
namespace {

// Long enough never to fire in a healthy run; only keeps a broken test from hanging.
constexpr int kSafetyTimeoutMs = 20000;

void startWinsock() {
  struct Session {
    Session() {
      WSADATA data;
      if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        throw std::runtime_error("WSAStartup() failed");
      }
    }
    ~Session() { WSACleanup(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
  };
  static const Session session;
}

SOCKET handle(int fd) {
  return static_cast<SOCKET>(fd);
}

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits until fd is readable; false if the stop socket fired or the safety time ran out.
bool waitReadable(int fd, int stopFd) {
  std::array<WSAPOLLFD, 2> entries{WSAPOLLFD{handle(fd), POLLRDNORM, 0},
                                   WSAPOLLFD{handle(stopFd), POLLRDNORM, 0}};
  const int ready = WSAPoll(entries.data(), entries.size(), kSafetyTimeoutMs);
  return ready > 0 && (entries[1].revents & POLLRDNORM) == 0 && entries[0].revents != 0;
}

}  // namespace

namespace sockets {

Fd bound(Kind kind, std::uint16_t& port) {
  startWinsock();
  const int type = kind == Kind::Datagram ? SOCK_DGRAM : SOCK_STREAM;
  Fd fd(static_cast<int>(::socket(AF_INET, type, 0)));
  if (fd.get() < 0) {
    throw std::runtime_error("socket() failed");
  }
  sockaddr_in address = loopback(0);
  if (::bind(handle(fd.get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind() failed");
  }
  int length = sizeof address;
  ::getsockname(handle(fd.get()), reinterpret_cast<sockaddr*>(&address), &length);
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
    int senderLength = sizeof sender;
    const int got = ::recvfrom(handle(fd), reinterpret_cast<char*>(request.data()),
                               static_cast<int>(request.size()), 0,
                               reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got < 0) {
      continue;
    }
    request.resize(static_cast<size_t>(got));
    for (const auto& datagram : answer(request)) {
      ::sendto(handle(fd), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<sockaddr*>(&sender),
               senderLength);
    }
  }
}

}  // namespace sockets

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      closesocket(handle(fd_));
    }
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) {
    closesocket(handle(fd_));
  }
}

void Worker::start(std::function<void(int stopFd)> serve) {
  std::uint16_t port = 0;
  stopRead_ = sockets::bound(sockets::Kind::Datagram, port);
  std::uint16_t unused = 0;
  stopWrite_ = sockets::bound(sockets::Kind::Datagram, unused);
  const sockaddr_in to = loopback(port);
  if (::connect(handle(stopWrite_.get()), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    throw std::runtime_error("connect() failed");
  }
  thread_ = std::thread([serve = std::move(serve), stopFd = stopRead_.get()] { serve(stopFd); });
}

void Worker::stop() {
  if (thread_.joinable()) {
    const char byte = 'x';
    ::send(handle(stopWrite_.get()), &byte, 1, 0);
    thread_.join();
  }
}

Fd listeningLoopbackSocket(std::uint16_t& port) {
  Fd listener = sockets::bound(sockets::Kind::Stream, port);
  if (::listen(handle(listener.get()), 8) != 0) {
    throw std::runtime_error("listen() failed");
  }
  return listener;
}

}  // namespace upgrade::testing
