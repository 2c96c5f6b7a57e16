// The loopback peers' sockets over BSD sockets, with a pipe as the stop signal.
#include "loopback_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

#include "loopback_sockets.h"

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

Fd listeningLoopbackSocket(std::uint16_t& port) {
  Fd listener = sockets::bound(sockets::Kind::Stream, port);
  if (::listen(listener.get(), 8) != 0) {
    throw std::runtime_error("listen() failed");
  }
  return listener;
}

}  // namespace upgrade::testing
