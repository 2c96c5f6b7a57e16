#include "ssrp.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <set>

#include "ascii_case.h"
#include "utf16.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <iconv.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace upgrade::ssrp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kBroadcastRequest = 0x02;  // CLNT_BCAST_EX
constexpr std::uint8_t kHostRequest = 0x03;       // CLNT_UCAST_EX
constexpr std::uint8_t kInstanceRequest = 0x04;   // CLNT_UCAST_INST
constexpr std::uint8_t kResponse = 0x05;          // SVR_RESP
constexpr size_t kHeaderSize = 3;                 // type byte and 16-bit size
constexpr size_t kLargestDatagram = 65535;
constexpr auto kResendInterval = std::chrono::seconds(1);

// --- The server's code page -------------------------------------------------------

#ifdef _WIN32
constexpr UINT kServerCodePage = 936;  // GBK

std::optional<std::string> serverCodePageToUtf8(std::string_view bytes) {
  if (bytes.empty()) {
    return std::string();
  }
  const int length = static_cast<int>(bytes.size());
  const int wide =
      MultiByteToWideChar(kServerCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (wide <= 0) {
    return std::nullopt;
  }
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(kServerCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(),
                      wide);
  std::u16string units;
  units.reserve(text.size());
  for (const wchar_t unit : text) {
    units += static_cast<char16_t>(unit);
  }
  return toUtf8(units);
}

std::optional<std::string> utf8ToServerCodePage(std::string_view text) {
  if (text.empty()) {
    return std::string();
  }
  const std::u16string units = toUtf16(text);
  std::wstring wide;
  wide.reserve(units.size());
  for (const char16_t unit : units) {
    wide += static_cast<wchar_t>(unit);
  }
  const int length = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int size =
      WideCharToMultiByte(kServerCodePage, 0, wide.data(), length, nullptr, 0, nullptr, &lossy);
  if (size <= 0 || lossy) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(kServerCodePage, 0, wide.data(), length, bytes.data(), size, nullptr,
                      nullptr);
  return bytes;
}
#else
constexpr const char* kServerCodePage = "GBK";

std::optional<std::string> convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
    return std::nullopt;
  }
  // Two GBK bytes become at most three UTF-8 bytes; the other way only shrinks.
  std::string out(in.size() * 2 + 4, '\0');
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1) || inLeft != 0) {
    return std::nullopt;
  }
  out.resize(out.size() - outLeft);
  return out;
}

std::optional<std::string> serverCodePageToUtf8(std::string_view bytes) {
  return convert("UTF-8", kServerCodePage, bytes);
}

std::optional<std::string> utf8ToServerCodePage(std::string_view text) {
  return convert(kServerCodePage, "UTF-8", text);
}
#endif

bool isUtf8(std::string_view bytes) {
  return toUtf8(toUtf16(bytes)) == bytes;
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
  if (isUtf8(bytes)) {
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

// --- Sockets ----------------------------------------------------------------------

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;

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
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

class NetworkSession {
 public:
  [[nodiscard]] bool ok() const { return true; }
};
#endif

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_UNSPEC;
};

// The host's first IPv4 address, or its first address of any kind: the Browser
// answers on IPv4 wherever it runs, so that is the family to prefer.
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
    address->length = static_cast<socklen_t>(chosen->ai_addrlen);
    address->family = chosen->ai_family;
  }
  freeaddrinfo(list);
  return address;
}

class UdpSocket {
 public:
  enum class Wait { Ready, Timeout, Failed };

  explicit UdpSocket(int family) : handle_(::socket(family, SOCK_DGRAM, IPPROTO_UDP)) {}
  ~UdpSocket() {
    if (valid()) {
#ifdef _WIN32
      closesocket(handle_);
#else
      ::close(handle_);
#endif
    }
  }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  [[nodiscard]] bool valid() const {
    return handle_ != kNoSocket;
  }

  void allowBroadcast() {
    const int on = 1;
    setsockopt(handle_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
  }

  bool sendTo(const Address& to, const Datagram& bytes) {
#ifdef _WIN32
    const int sent =
        sendto(handle_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
               0, reinterpret_cast<const sockaddr*>(&to.storage), to.length);
    return sent == static_cast<int>(bytes.size());
#else
    const ssize_t sent = sendto(handle_, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&to.storage), to.length);
    return sent == static_cast<ssize_t>(bytes.size());
#endif
  }

  Wait waitReadable(Clock::duration limit) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
    const int timeout = static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = handle_;
    entry.events = POLLRDNORM;
    const int ready = WSAPoll(&entry, 1, timeout);
    if (ready < 0) {
      return Wait::Failed;
    }
#else
    pollfd entry{};
    entry.fd = handle_;
    entry.events = POLLIN;
    const int ready = ::poll(&entry, 1, timeout);
    if (ready < 0) {
      return errno == EINTR ? Wait::Timeout : Wait::Failed;
    }
#endif
    return ready == 0 ? Wait::Timeout : Wait::Ready;
  }

  // One datagram; an empty one for a receive error that only concerns one datagram
  // (Windows reports an ICMP "port unreachable" to a later receive); nullopt when
  // the socket itself has failed.
  std::optional<Datagram> receive() {
    Datagram buffer(kLargestDatagram);
#ifdef _WIN32
    const int received = recvfrom(handle_, reinterpret_cast<char*>(buffer.data()),
                                  static_cast<int>(buffer.size()), 0, nullptr, nullptr);
    if (received < 0) {
      const int error = WSAGetLastError();
      if (error == WSAECONNRESET || error == WSAEMSGSIZE) {
        return Datagram();
      }
      return std::nullopt;
    }
#else
    const ssize_t received = recvfrom(handle_, buffer.data(), buffer.size(), 0, nullptr, nullptr);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED) {
        return Datagram();
      }
      return std::nullopt;
    }
#endif
    buffer.resize(static_cast<size_t>(received));
    return buffer;
  }

 private:
  SocketHandle handle_;
};

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
      if (equalsIgnoringAsciiCase(key, "ServerName")) {
        server = value;
      } else if (equalsIgnoringAsciiCase(key, "InstanceName")) {
        instance = value;
      } else if (equalsIgnoringAsciiCase(key, "Version")) {
        version = value;
      } else if (equalsIgnoringAsciiCase(key, "tcp")) {
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
  if (equalsIgnoringAsciiCase(instance.instanceName, "MSSQLSERVER")) {
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
    NetworkSession network;
    if (!network.ok()) {
      return {};
    }
    const auto to = resolve(destination.address, destination.port);
    if (!to) {
      return {};
    }
    UdpSocket socket(to->family);
    if (!socket.valid()) {
      return {};
    }
    socket.allowBroadcast();
    const bool everyone = destination.address == Destination{}.address;
    if (!socket.sendTo(*to, everyone ? broadcastRequest() : hostRequest())) {
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
  NetworkSession network;
  if (!network.ok()) {
    return std::nullopt;
  }
  const auto to = resolve(host, browserPort);
  if (!to) {
    return std::nullopt;
  }
  UdpSocket socket(to->family);
  if (!socket.valid()) {
    return std::nullopt;
  }
  const Datagram request = instanceRequest(instance);
  auto nextSend = Clock::now();
  for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
    if (now >= nextSend) {
      if (!socket.sendTo(*to, request)) {
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
      if (equalsIgnoringAsciiCase(answer.instanceName, instance)) {
        // The instance is there; without a TCP port there is nothing to connect to.
        return answer.tcpPort;
      }
    }
  }
  return std::nullopt;
}

}  // namespace upgrade::ssrp
