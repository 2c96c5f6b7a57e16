// Winsock, and the type it counts address lengths in.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace upgrade::net {
using SocketLength = int;
}  // namespace upgrade::net
