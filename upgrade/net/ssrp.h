// The SQL Server Resolution Protocol: the small UDP exchange (port 1434) through
// which the SQL Server Browser names the instances of a host and their TCP ports.
// We use it for two things: the server list of the connection dialog, and finding
// the port of a named instance ("host\instance") before connecting.
//
// Texts in the answers are in the server's ANSI code page. The suite's servers run
// Chinese Windows, so names are decoded as GBK (code page 936) into UTF-8; ASCII
// names are the same in both. A name that is not GBK but is valid UTF-8 is kept as
// it is; a record with a name that is neither is dropped rather than shown garbled.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace upgrade::net::ssrp {

inline constexpr std::uint16_t kBrowserPort = 1434;

using Datagram = std::vector<std::uint8_t>;

// "Every instance of every server that hears this" (meant for a broadcast).
Datagram broadcastRequest();
// "Every instance of this host".
Datagram hostRequest();
// "This one instance of this host"; the name is sent in the server's code page.
Datagram instanceRequest(std::string_view instance);

struct Instance {
  std::string serverName;    // the host as the server names itself, UTF-8
  std::string instanceName;  // "MSSQLSERVER" for the default instance, UTF-8
  std::string version;
  std::optional<std::uint16_t> tcpPort;  // absent when TCP is not enabled
};

// The instances that one answer describes, in its order. Anything that is not a
// well-formed answer (wrong type byte, a size beyond the datagram) yields nothing;
// bytes beyond the declared size are ignored, and so are incomplete records.
std::vector<Instance> parseResponse(std::span<const std::uint8_t> datagram);

// "HOST" for the default instance, "HOST\INSTANCE" for a named one: the form in
// which an operator types a server.
std::string displayName(const Instance& instance);

// Where a listing request goes. The production default reaches every server on the
// local network segment; tests point it at a responder on the loopback address.
struct Destination {
  std::string address = "255.255.255.255";
  std::uint16_t port = kBrowserPort;
};

// Sends one request and collects answers until the window has passed: the display
// names of every instance heard of, without duplicates, sorted. Any failure
// (no network, a refused socket) ends the listing with what was heard so far, which
// usually is nothing. Silence is normal: a machine without SQL Server never answers.
std::vector<std::string> listSqlServers(std::chrono::milliseconds window);
std::vector<std::string> listSqlServers(const Destination& destination,
                                        std::chrono::milliseconds window);

// Asks host's SQL Server Browser for the TCP port of one instance, repeating the
// request about once a second (UDP may lose it) until timeout. nullopt when no
// answer names that instance with a TCP port in time, or the host has no address.
std::optional<std::uint16_t> lookupInstancePort(const std::string& host, std::string_view instance,
                                                std::chrono::milliseconds timeout,
                                                std::uint16_t browserPort = kBrowserPort);

}  // namespace upgrade::net::ssrp
