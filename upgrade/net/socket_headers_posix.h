// BSD sockets, and the type they count address lengths in.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace upgrade::net {
using SocketLength = socklen_t;
}  // namespace upgrade::net
