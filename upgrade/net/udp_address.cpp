#include "udp_address.h"

#include <cstring>

namespace upgrade::net {

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
    address->length = static_cast<SocketLength>(chosen->ai_addrlen);
    address->family = chosen->ai_family;
  }
  freeaddrinfo(list);
  return address;
}

}  // namespace upgrade::net
