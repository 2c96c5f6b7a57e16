#include <algorithm>
#include <climits>
#include <cstring>

#include "udp_address.h"
#include "udp_socket.h"

namespace upgrade::net {
namespace {

constexpr std::size_t kLargestDatagram = 65535;

// Winsock works only between WSAStartup and WSACleanup.
class NetworkSession {
 public:
  NetworkSession() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~NetworkSession() {
    if (ok_) {
      WSACleanup();
    }
  }
  NetworkSession(const NetworkSession&) = delete;
  NetworkSession& operator=(const NetworkSession&) = delete;
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace

struct UdpSocket::Impl {
  NetworkSession network;  // first in, last out
  Address to;
  SOCKET handle = INVALID_SOCKET;
};

UdpSocket::UdpSocket(const std::string& host, std::uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  if (!impl_->network.ok()) {
    return;
  }
  if (const auto to = resolve(host, port)) {
    impl_->to = *to;
    impl_->handle = ::socket(to->family, SOCK_DGRAM, IPPROTO_UDP);
  }
}

UdpSocket::~UdpSocket() {
  if (valid()) {
    closesocket(impl_->handle);
  }
}

bool UdpSocket::valid() const noexcept {
  return impl_->handle != INVALID_SOCKET;
}

void UdpSocket::allowBroadcast() noexcept {
  const int on = 1;
  setsockopt(impl_->handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
             sizeof on);
}

bool UdpSocket::send(const std::vector<std::uint8_t>& bytes) {
  const int sent = sendto(impl_->handle, reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), 0,
                          reinterpret_cast<const sockaddr*>(&impl_->to.storage), impl_->to.length);
  return sent == static_cast<int>(bytes.size());
}

UdpSocket::Wait UdpSocket::waitReadable(std::chrono::steady_clock::duration limit) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
  const int timeout = static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
  WSAPOLLFD entry{};
  entry.fd = impl_->handle;
  entry.events = POLLRDNORM;
  const int ready = WSAPoll(&entry, 1, timeout);
  if (ready < 0) {
    return Wait::Failed;
  }
  return ready == 0 ? Wait::Timeout : Wait::Ready;
}

std::optional<std::vector<std::uint8_t>> UdpSocket::receive() {
  std::vector<std::uint8_t> buffer(kLargestDatagram);
  const int received = recvfrom(impl_->handle, reinterpret_cast<char*>(buffer.data()),
                                static_cast<int>(buffer.size()), 0, nullptr, nullptr);
  if (received < 0) {
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAEMSGSIZE) {
      return std::vector<std::uint8_t>();
    }
    return std::nullopt;
  }
  buffer.resize(static_cast<std::size_t>(received));
  return buffer;
}

}  // namespace upgrade::net
