// Peers on 127.0.0.1 for the network tests: a SQL Server Browser that answers as a
// test tells it, a UDP port that never answers and a TCP port that refuses (the
// pretend SQL Server, on Linux, is in tds_peer/). Each picks an ephemeral port; the
// threads wait on poll() with a stop signal (a pipe, or a pair of UDP sockets under
// Winsock) and end with the object. The sockets are the platform's
// (loopback_peers_posix.cpp, loopback_peers_windows.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace upgrade::testing {

using Bytes = std::vector<std::uint8_t>;

// A socket (or, on POSIX, any file descriptor) closed on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  [[nodiscard]] int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// A background thread that runs until the object goes: serve() is called with the
// read end of the stop signal (a pipe, or a UDP socket under Winsock), which
// becomes readable when it is time to end.
class Worker {
 public:
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() { stop(); }
  void start(std::function<void(int stopFd)> serve);
  void stop();

 private:
  Fd stopRead_;
  Fd stopWrite_;
  std::thread thread_;
};

// A UDP socket bound to 127.0.0.1 that nobody reads: requests to it go unanswered.
class SilentUdpPort {
 public:
  SilentUdpPort();
  [[nodiscard]] std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = 0;  // before the socket, whose set-up fills it in
  Fd socket_;
};

// A TCP port on 127.0.0.1 that is bound but not listening: connections are refused.
class RefusingTcpPort {
 public:
  RefusingTcpPort();
  [[nodiscard]] std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = 0;  // before the socket, whose set-up fills it in
  Fd socket_;
};

// Answers each request datagram with the datagrams that answer() returns, in order.
class BrowserResponder {
 public:
  using Answer = std::function<std::vector<Bytes>(const Bytes& request)>;
  explicit BrowserResponder(Answer answer);
  [[nodiscard]] std::uint16_t port() const { return port_; }
  [[nodiscard]] std::vector<Bytes> requests() const;

 private:
  Answer answer_;
  std::uint16_t port_ = 0;  // before the socket, whose set-up fills it in
  Fd socket_;
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  Worker worker_;
};

// A response datagram: 0x05, the 16-bit little-endian size, then text.
Bytes browserResponse(std::string_view text);

// For peers built on these: a TCP socket listening on 127.0.0.1 on a port the
// system picks.
Fd listeningLoopbackSocket(std::uint16_t& port);

}  // namespace upgrade::testing
