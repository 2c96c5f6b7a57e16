// What the loopback peers need from the platform's sockets, one implementation per
// platform (loopback_peers_posix.cpp, loopback_peers_windows.cpp). Private to the
// peers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "loopback_peers.h"

namespace upgrade::testing::sockets {

enum class Kind { Datagram, Stream };

// A socket bound to 127.0.0.1 on a port the system picks, which it fills in.
[[nodiscard]] Fd bound(Kind kind, std::uint16_t& port);

// Answers every datagram that arrives on fd with the datagrams that answer
// returns for it, until stopFd fires (or a safety time passes, which only keeps a
// broken test from hanging).
void answerDatagrams(int fd, int stopFd,
                     const std::function<std::vector<Bytes>(const Bytes& request)>& answer);

}  // namespace upgrade::testing::sockets
