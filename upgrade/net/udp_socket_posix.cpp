#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "udp_address.h"
#include "udp_socket.h"

namespace upgrade::net {
namespace {

constexpr std::size_t kLargestDatagram = 65535;

}  // namespace

struct UdpSocket::Impl {
  Address to;
  int handle = -1;
};

UdpSocket::UdpSocket(const std::string& host, std::uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  if (const auto to = resolve(host, port)) {
    impl_->to = *to;
    impl_->handle = ::socket(to->family, SOCK_DGRAM, IPPROTO_UDP);
  }
}

UdpSocket::~UdpSocket() {
  if (valid()) {
    ::close(impl_->handle);
  }
}

bool UdpSocket::valid() const noexcept {
  return impl_->handle != -1;
}

void UdpSocket::allowBroadcast() noexcept {
  const int on = 1;
  setsockopt(impl_->handle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

bool UdpSocket::send(const std::vector<std::uint8_t>& bytes) {
  const ssize_t sent =
      sendto(impl_->handle, bytes.data(), bytes.size(), 0,
             reinterpret_cast<const sockaddr*>(&impl_->to.storage), impl_->to.length);
  return sent == static_cast<ssize_t>(bytes.size());
}

UdpSocket::Wait UdpSocket::waitReadable(std::chrono::steady_clock::duration limit) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
  const int timeout = static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
  pollfd entry{};
  entry.fd = impl_->handle;
  entry.events = POLLIN;
  const int ready = ::poll(&entry, 1, timeout);
  if (ready < 0) {
    return errno == EINTR ? Wait::Timeout : Wait::Failed;
  }
  return ready == 0 ? Wait::Timeout : Wait::Ready;
}

std::optional<std::vector<std::uint8_t>> UdpSocket::receive() {
  std::vector<std::uint8_t> buffer(kLargestDatagram);
  const ssize_t received =
      recvfrom(impl_->handle, buffer.data(), buffer.size(), 0, nullptr, nullptr);
  if (received < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED) {
      return std::vector<std::uint8_t>();
    }
    return std::nullopt;
  }
  buffer.resize(static_cast<std::size_t>(received));
  return buffer;
}

}  // namespace upgrade::net
