#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "udp_socket.h"

namespace upgrade::ssrp {
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

struct Address {
  sockaddr_storage storage{};
  int length = 0;
  int family = AF_UNSPEC;
};

std::optional<Address> resolve(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
    return std::nullopt;
  }
  const addrinfo* chosen = list;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET) {
      chosen = entry;
      break;
    }
  }
  std::optional<Address> address;
  if (chosen->ai_addrlen <= sizeof(sockaddr_storage)) {
    address.emplace();
    std::memcpy(&address->storage, chosen->ai_addr, chosen->ai_addrlen);
    address->length = static_cast<int>(chosen->ai_addrlen);
    address->family = chosen->ai_family;
  }
  freeaddrinfo(list);
  return address;
}

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

}  // namespace upgrade::ssrp
