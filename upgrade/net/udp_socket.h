// One UDP socket aimed at one address, as the SQL Server Browser exchange needs it.
// One implementation per platform (BSD sockets, Winsock).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace upgrade::net {

class UdpSocket {
 public:
  enum class Wait { Ready, Timeout, Failed };

  // Aimed at the host's first IPv4 address, or its first address of any kind: the
  // Browser answers on IPv4 wherever it runs, so that is the family to prefer.
  // Not valid when the network is unavailable, the host has no address, or no
  // socket can be made.
  UdpSocket(const std::string& host, std::uint16_t port);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  [[nodiscard]] bool valid() const noexcept;
  void allowBroadcast() noexcept;
  // The whole datagram to the address, or false.
  bool send(const std::vector<std::uint8_t>& bytes);
  Wait waitReadable(std::chrono::steady_clock::duration limit);
  // One datagram; an empty one for a receive error that only concerns one datagram
  // (Windows reports an ICMP "port unreachable" to a later receive); nullopt when
  // the socket itself has failed.
  std::optional<std::vector<std::uint8_t>> receive();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace upgrade::net
