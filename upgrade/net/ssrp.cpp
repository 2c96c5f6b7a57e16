#include "ssrp.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "ascii.h"
#include "text_encoding.h"
#include "udp_socket.h"

namespace upgrade::net::ssrp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kBroadcastRequest = 0x02;  // CLNT_BCAST_EX
constexpr std::uint8_t kHostRequest = 0x03;       // CLNT_UCAST_EX
constexpr std::uint8_t kInstanceRequest = 0x04;   // CLNT_UCAST_INST
constexpr std::uint8_t kResponse = 0x05;          // SVR_RESP
constexpr size_t kHeaderSize = 3;                 // type byte and 16-bit size
constexpr auto kResendInterval = std::chrono::seconds(1);

// --- The server's code page -------------------------------------------------------

// The suite's servers run Chinese Windows: their ANSI code page is 936.
std::optional<std::string> serverCodePageToUtf8(std::string_view bytes) {
  return text::decodeGbk(bytes);
}

std::optional<std::string> utf8ToServerCodePage(std::string_view utf8) {
  return text::utf8ToGbk(utf8);
}

std::optional<std::string> decodeName(std::string_view bytes) {
  // Host and instance names never hold control characters; a reply with one (a NUL
  // would cut the name short wherever it goes) is not shown.
  if (std::any_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    return std::nullopt;
  }
  if (auto text = serverCodePageToUtf8(bytes)) {
    return text;
  }
  if (text::isValidUtf8(bytes)) {
    return std::string(bytes);
  }
  return std::nullopt;
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

Datagram broadcastRequest() {
  return {kBroadcastRequest};
}

Datagram hostRequest() {
  return {kHostRequest};
}

Datagram instanceRequest(std::string_view instance) {
  const std::string name = utf8ToServerCodePage(instance).value_or(std::string(instance));
  Datagram request;
  request.reserve(name.size() + 2);
  request.push_back(kInstanceRequest);
  request.insert(request.end(), name.begin(), name.end());
  request.push_back(0);
  return request;
}

std::vector<Instance> parseResponse(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kHeaderSize || datagram[0] != kResponse) {
    return {};
  }
  const size_t size = static_cast<size_t>(datagram[1]) | (static_cast<size_t>(datagram[2]) << 8);
  if (size > datagram.size() - kHeaderSize) {
    return {};
  }
  const std::string_view text(reinterpret_cast<const char*>(datagram.data() + kHeaderSize), size);

  // ';' (0x3B) is never the second byte of a GBK character, so the fields can be
  // split before they are decoded.
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t at = text.find(';'); at != std::string_view::npos; at = text.find(';', start)) {
    fields.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  // What follows the last ';' belongs to no complete field and is dropped.

  // Records are key;value pairs closed by an empty key (the second ';' of ";;").
  // Values may be empty; only a key position tells where a record ends.
  std::vector<Instance> instances;
  size_t i = 0;
  while (i < fields.size()) {
    std::string_view server;
    std::string_view instance;
    std::string_view version;
    std::string_view tcp;
    bool complete = false;
    while (i < fields.size()) {
      const std::string_view key = fields[i];
      if (key.empty()) {
        complete = true;
        ++i;
        break;
      }
      if (i + 1 >= fields.size()) {
        i = fields.size();
        break;
      }
      const std::string_view value = fields[i + 1];
      i += 2;
      if (text::equalsIgnoringAsciiCase(key, "ServerName")) {
        server = value;
      } else if (text::equalsIgnoringAsciiCase(key, "InstanceName")) {
        instance = value;
      } else if (text::equalsIgnoringAsciiCase(key, "Version")) {
        version = value;
      } else if (text::equalsIgnoringAsciiCase(key, "tcp")) {
        tcp = value;
      }
    }
    if (!complete || server.empty() || instance.empty()) {
      continue;
    }
    auto serverName = decodeName(server);
    auto instanceName = decodeName(instance);
    if (!serverName || !instanceName) {
      continue;
    }
    instances.push_back(Instance{std::move(*serverName), std::move(*instanceName),
                                 std::string(version), parsePort(tcp)});
  }
  return instances;
}

std::string displayName(const Instance& instance) {
  if (text::equalsIgnoringAsciiCase(instance.instanceName, "MSSQLSERVER")) {
    return instance.serverName;
  }
  return instance.serverName + "\\" + instance.instanceName;
}

std::vector<std::string> listSqlServers(std::chrono::milliseconds window) {
  return listSqlServers(Destination{}, window);
}

std::vector<std::string> listSqlServers(const Destination& destination,
                                        std::chrono::milliseconds window) {
  try {
    const auto deadline = Clock::now() + window;
    UdpSocket socket(destination.address, destination.port);
    if (!socket.valid()) {
      return {};
    }
    socket.allowBroadcast();
    const bool everyone = destination.address == Destination{}.address;
    if (!socket.send(everyone ? broadcastRequest() : hostRequest())) {
      return {};
    }
    // Names heard before a later failure stay in the list.
    std::set<std::string> names;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
      const auto wait = socket.waitReadable(deadline - now);
      if (wait == UdpSocket::Wait::Failed) {
        break;
      }
      if (wait == UdpSocket::Wait::Timeout) {
        continue;
      }
      const auto datagram = socket.receive();
      if (!datagram) {
        break;
      }
      for (const auto& instance : parseResponse(*datagram)) {
        names.insert(displayName(instance));
      }
    }
    return {names.begin(), names.end()};
  } catch (const std::exception&) {
    return {};
  }
}

std::optional<std::uint16_t> lookupInstancePort(const std::string& host, std::string_view instance,
                                                std::chrono::milliseconds timeout,
                                                std::uint16_t browserPort) {
  const auto deadline = Clock::now() + timeout;
  UdpSocket socket(host, browserPort);
  if (!socket.valid()) {
    return std::nullopt;
  }
  const Datagram request = instanceRequest(instance);
  auto nextSend = Clock::now();
  for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
    if (now >= nextSend) {
      if (!socket.send(request)) {
        return std::nullopt;
      }
      nextSend = now + kResendInterval;
    }
    const auto wait = socket.waitReadable(std::min(deadline, nextSend) - now);
    if (wait == UdpSocket::Wait::Failed) {
      return std::nullopt;
    }
    if (wait == UdpSocket::Wait::Timeout) {
      continue;
    }
    const auto datagram = socket.receive();
    if (!datagram) {
      return std::nullopt;
    }
    for (const auto& answer : parseResponse(*datagram)) {
      if (text::equalsIgnoringAsciiCase(answer.instanceName, instance)) {
        // The instance is there; without a TCP port there is nothing to connect to.
        return answer.tcpPort;
      }
    }
  }
  return std::nullopt;
}

}  // namespace upgrade::net::ssrp
