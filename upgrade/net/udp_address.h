// The address a UDP socket is aimed at, resolved the same way on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The platform's socket headers, which the build names: socket_headers_posix.h or
// socket_headers_windows.h.
#include UPGRADE_SOCKET_HEADERS

namespace upgrade::net {

struct Address {
  sockaddr_storage storage{};
  SocketLength length = 0;
  int family = AF_UNSPEC;
};

// The host's first IPv4 address, or its first address of any kind: the Browser
// answers on IPv4 wherever it runs. Nullopt when the host has no address.
[[nodiscard]] std::optional<Address> resolve(const std::string& host, std::uint16_t port);

}  // namespace upgrade::net
