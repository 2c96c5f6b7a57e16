#include "tds_peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "utf16.h"

namespace upgrade::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Packet types, client to server and back.
constexpr std::uint8_t kSqlBatch = 0x01;
constexpr std::uint8_t kRpc = 0x03;
constexpr std::uint8_t kReply = 0x04;
constexpr std::uint8_t kAttention = 0x06;
constexpr std::uint8_t kTransactionManager = 0x0E;
constexpr std::uint8_t kLogin7 = 0x10;
constexpr std::uint8_t kPreLogin = 0x12;

constexpr size_t kHeaderSize = 8;
constexpr size_t kPacketSize = 4096;  // what FreeTDS asks for, and what the peer grants
constexpr std::uint32_t kTds74 = 0x74000004;

// Tokens the peer sends.
constexpr std::uint8_t kReturnStatus = 0x79;
constexpr std::uint8_t kColMetadata = 0x81;
constexpr std::uint8_t kError = 0xAA;
constexpr std::uint8_t kInfo = 0xAB;
constexpr std::uint8_t kLoginAck = 0xAD;
constexpr std::uint8_t kRow = 0xD1;
constexpr std::uint8_t kEnvChange = 0xE3;
constexpr std::uint8_t kDone = 0xFD;
constexpr std::uint8_t kDoneProc = 0xFE;
constexpr std::uint8_t kDoneInProc = 0xFF;

constexpr std::uint16_t kDoneMore = 0x01;
constexpr std::uint16_t kDoneError = 0x02;
constexpr std::uint16_t kDoneCount = 0x10;
constexpr std::uint16_t kDoneAttention = 0x20;

// Data types in RPC parameters and result columns.
constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kNText = 0x63;
constexpr std::uint8_t kBitN = 0x68;
constexpr std::uint8_t kNVarChar = 0xE7;

constexpr std::uint16_t kSpExecuteSql = 10;
constexpr std::array<std::uint8_t, 5> kCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};

// Something the peer does not understand; ends the connection and fails the test.
struct Violation {
  std::string what;
};
// The client went away, or the peer has to stop.
struct ConnectionEnded {};

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// The text for recognising the few requests the peer acts on: UTF-8, without
// trailing line breaks, lower case in ASCII.
std::string normalised(std::u16string_view text) {
  std::string out = text::toUtf8(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
    out.pop_back();
  }
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// Reads a message body front to back; running off its end is a violation.
class Reader {
 public:
  Reader(const Bytes& data, std::string what) : data_(data), what_(std::move(what)) {}

  [[nodiscard]] size_t left() const { return data_.size() - at_; }
  [[nodiscard]] bool done() const { return at_ == data_.size(); }

  const std::uint8_t* take(size_t size) {
    if (left() < size) {
      throw Violation{what_ + ": ends after " + std::to_string(data_.size()) +
                      " bytes, inside a field of " + std::to_string(size)};
    }
    const std::uint8_t* p = data_.data() + at_;
    at_ += size;
    return p;
  }
  std::uint8_t u8() { return *take(1); }
  std::uint16_t u16() {
    const auto* p = take(2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  std::uint32_t u32() {
    const auto* p = take(4);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  std::uint64_t u64() {
    const std::uint64_t low = u32();
    return low | static_cast<std::uint64_t>(u32()) << 32;
  }
  std::u16string utf16Bytes(size_t bytes) {
    if (bytes % 2 != 0) {
      throw Violation{what_ + ": UTF-16 text of an odd length, " + std::to_string(bytes)};
    }
    const auto* p = take(bytes);
    std::u16string text(bytes / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    }
    return text;
  }
  std::u16string bVarChar() { return utf16Bytes(size_t{u8()} * 2); }
  std::u16string rest() { return utf16Bytes(left()); }

  void expectEnd() {
    if (!done()) {
      throw Violation{what_ + ": " + std::to_string(left()) + " bytes left over"};
    }
  }

 private:
  const Bytes& data_;
  std::string what_;
  size_t at_ = 0;
};

class Writer {
 public:
  Writer& u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Writer& u16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v & 0xFF)).u8(static_cast<std::uint8_t>(v >> 8));
  }
  Writer& u16be(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v & 0xFF));
  }
  Writer& u32(std::uint32_t v) {
    return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
  }
  Writer& u64(std::uint64_t v) {
    return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32));
  }
  template <typename Range>
  Writer& raw(const Range& range) {
    bytes_.insert(bytes_.end(), std::begin(range), std::end(range));
    return *this;
  }
  Writer& utf16(std::u16string_view text) {
    for (const char16_t unit : text) {
      u16(static_cast<std::uint16_t>(unit));
    }
    return *this;
  }
  Writer& bVarChar(std::u16string_view text) {
    return u8(static_cast<std::uint8_t>(text.size())).utf16(text);
  }
  Writer& usVarChar(std::u16string_view text) {
    return u16(static_cast<std::uint16_t>(text.size())).utf16(text);
  }
  // A token whose body follows its 16-bit length.
  Writer& sized(std::uint8_t token, const Writer& body) {
    return u8(token).u16(static_cast<std::uint16_t>(body.bytes_.size())).raw(body.bytes_);
  }
  [[nodiscard]] const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

Bytes descriptorBytes(std::uint64_t descriptor) {
  Writer w;
  w.u64(descriptor);
  return w.bytes();
}

// ENVCHANGE with binary values (collation, transactions).
void envChange(Writer& out, std::uint8_t type, const Bytes& now, const Bytes& before) {
  Writer body;
  body.u8(type).u8(static_cast<std::uint8_t>(now.size())).raw(now);
  body.u8(static_cast<std::uint8_t>(before.size())).raw(before);
  out.sized(kEnvChange, body);
}

// ENVCHANGE with text values (database, language, packet size).
void envChange(Writer& out, std::uint8_t type, std::u16string_view now,
               std::u16string_view before) {
  Writer body;
  body.u8(type).bVarChar(now).bVarChar(before);
  out.sized(kEnvChange, body);
}

void message(Writer& out, std::uint8_t token, std::int32_t number, std::uint8_t severity,
             std::u16string_view text) {
  Writer body;
  body.u32(static_cast<std::uint32_t>(number)).u8(1).u8(severity).usVarChar(text);
  body.bVarChar(u"TDSPEER").bVarChar(u"").u32(1);
  out.sized(token, body);
}

void done(Writer& out, std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0) {
  out.u8(token).u16(status).u16(0xC1).u64(rows);
}

// Columns of NVARCHAR(50), or one unnamed INTN(4) when names is empty; then the rows.
void resultSet(Writer& out, const std::vector<std::u16string>& names,
               const std::vector<std::vector<std::u16string>>& rows) {
  out.u8(kColMetadata);
  if (names.empty()) {
    out.u16(1).u32(0).u16(0x0000).u8(kIntN).u8(4).bVarChar(u"");
  } else {
    out.u16(static_cast<std::uint16_t>(names.size()));
    for (const auto& name : names) {
      out.u32(0).u16(0x0001).u8(kNVarChar).u16(100).raw(kCollation).bVarChar(name);
    }
  }
  for (const auto& row : rows) {
    out.u8(kRow);
    for (const auto& value : row) {
      if (names.empty()) {
        out.u8(4).u32(static_cast<std::uint32_t>(std::stoi(text::toUtf8(value))));
      } else {
        out.u16(static_cast<std::uint16_t>(value.size() * 2)).utf16(value);
      }
    }
  }
  done(out, kDone, kDoneCount, rows.size());
}

// A byte stream that ends with the peer's lifetime or its stop pipe.
class Link {
 public:
  Link(int fd, int stopFd, Clock::time_point deadline)
      : fd_(fd), stopFd_(stopFd), deadline_(deadline) {}

  // One whole message. Throws ConnectionEnded at the end of the stream, on stop or
  // at the deadline, and Violation for a packet that is not well formed.
  std::pair<std::uint8_t, Bytes> receive() {
    std::uint8_t type = 0;
    Bytes payload;
    for (bool first = true;; first = false) {
      std::array<std::uint8_t, kHeaderSize> header{};
      readExactly(header.data(), header.size());
      const size_t length = static_cast<size_t>(header[2]) << 8 | header[3];
      const std::uint8_t status = header[1];
      if (length < kHeaderSize || length > kPacketSize) {
        throw Violation{"packet of type " + hex(header[0]) + " with length " +
                        std::to_string(length)};
      }
      if ((status & ~0x01) != 0) {
        throw Violation{"packet of type " + hex(header[0]) + " with status " + hex(status)};
      }
      if (first) {
        type = header[0];
        if (type != kSqlBatch && type != kRpc && type != kAttention &&
            type != kTransactionManager && type != kLogin7 && type != kPreLogin) {
          throw Violation{"unknown packet type " + hex(type)};
        }
      } else if (header[0] != type) {
        throw Violation{"packet of type " + hex(header[0]) + " continues a message of type " +
                        hex(type)};
      }
      const size_t start = payload.size();
      payload.resize(start + length - kHeaderSize);
      readExactly(payload.data() + start, length - kHeaderSize);
      if ((status & 0x01) != 0) {
        return {type, std::move(payload)};
      }
    }
  }

  void send(const Bytes& payload) {
    size_t at = 0;
    do {
      const size_t chunk = std::min(payload.size() - at, kPacketSize - kHeaderSize);
      const size_t length = chunk + kHeaderSize;
      const bool last = at + chunk == payload.size();
      Bytes packet = {kReply,
                      static_cast<std::uint8_t>(last ? 0x01 : 0x00),
                      static_cast<std::uint8_t>(length >> 8),
                      static_cast<std::uint8_t>(length & 0xFF),
                      0x00,
                      0x33,  // the session id
                      ++packetId_,
                      0x00};
      packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                    payload.begin() + static_cast<std::ptrdiff_t>(at + chunk));
      sendRaw(packet);
      at += chunk;
    } while (at < payload.size());
  }

  void sendRaw(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) {
        throw ConnectionEnded{};
      }
      done += static_cast<size_t>(sent);
    }
  }

 private:
  void readExactly(std::uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) {
        throw ConnectionEnded{};
      }
      std::array<pollfd, 2> entries{pollfd{fd_, POLLIN, 0}, pollfd{stopFd_, POLLIN, 0}};
      const int ready = ::poll(entries.data(), entries.size(), static_cast<int>(left.count()));
      if (ready < 0 || (entries[1].revents & POLLIN) != 0) {
        throw ConnectionEnded{};
      }
      if (ready == 0) {
        continue;  // the deadline check above ends it
      }
      const ssize_t got = ::recv(fd_, out + done, size - done, 0);
      if (got <= 0) {
        throw ConnectionEnded{};
      }
      done += static_cast<size_t>(got);
    }
  }

  int fd_;
  int stopFd_;
  Clock::time_point deadline_;
  std::uint8_t packetId_ = 0;
};

// The option table of a PRELOGIN message; the client must not ask for encryption,
// which the peer does not offer.
void checkPreLogin(const Bytes& payload) {
  size_t at = 0;
  for (;;) {
    if (at >= payload.size()) {
      throw Violation{"PRELOGIN: option table without its terminator"};
    }
    const std::uint8_t option = payload[at];
    if (option == 0xFF) {
      return;
    }
    if (at + 5 > payload.size()) {
      throw Violation{"PRELOGIN: option table cut short"};
    }
    const size_t offset = static_cast<size_t>(payload[at + 1]) << 8 | payload[at + 2];
    const size_t length = static_cast<size_t>(payload[at + 3]) << 8 | payload[at + 4];
    if (offset + length > payload.size()) {
      throw Violation{"PRELOGIN: option " + hex(option) + " lies outside the message"};
    }
    if (option == 0x01 && (length != 1 || (payload[offset] != 0x00 && payload[offset] != 0x02))) {
      throw Violation{"PRELOGIN: the client asks for encryption"};
    }
    at += 5;
  }
}

// The pre-login answer: version 15.0.2000, encryption not supported, no instance
// check, no MARS. Without the MARS option FreeTDS would take the server for SQL
// Server 2000 and log in with TDS 7.1.
Bytes preLoginReply() {
  Writer out;
  const std::array<std::pair<std::uint8_t, Bytes>, 4> options = {{
      {0x00, {0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00}},
      {0x01, {0x02}},
      {0x03, {0x00}},
      {0x04, {0x00}},
  }};
  auto offset = static_cast<std::uint16_t>(options.size() * 5 + 1);
  for (const auto& [option, value] : options) {
    const auto length = static_cast<std::uint16_t>(value.size());
    out.u8(option).u16be(offset).u16be(length);
    offset = static_cast<std::uint16_t>(offset + length);
  }
  out.u8(0xFF);
  for (const auto& entry : options) {
    out.raw(entry.second);
  }
  return out.bytes();
}

}  // namespace

struct TdsPeer::Impl {
  Options options;
  std::uint16_t port = 0;
  Fd listener;
  Clock::time_point deadline;

  mutable std::mutex mutex;
  std::optional<std::string> committed;
  std::optional<std::string> pending;
  int committedXmlb = 0;
  int pendingXmlb = 0;
  bool transactionOpen = false;
  std::uint64_t descriptor = 0;  // of the open transaction; 0 when none is open
  std::uint64_t lastDescriptor = 0;
  std::vector<TdsRequest> journal;
  std::vector<CapturedLogin> logins;
  std::vector<std::string> violations;
  int attentions = 0;

  Worker worker;  // last: its thread uses everything above

  void serve(int stopFd);
  void serveClient(int client, int stopFd);
  void login(Link& link);
  void converse(Link& link);
  void answer(Link& link, TdsRequest request, const Bytes& reply);
  Bytes respond(TdsRequest& request);
  const TdsFault* faultFor(const TdsRequest& request) const;
  void stall(Link& link, bool acknowledge);

  TdsRequest decode(std::uint8_t type, const Bytes& payload) const;
  std::uint64_t allHeaders(Reader& in) const;
  void decodeRpc(Reader& in, TdsRequest& request) const;
  void decodeTransaction(Reader& in, TdsRequest& request) const;

  void beginTransaction(Writer& out) {
    transactionOpen = true;
    descriptor = ++lastDescriptor;
    pending = committed;
    pendingXmlb = committedXmlb;
    envChange(out, 8, descriptorBytes(descriptor), {});
  }
  void discardTransaction() {
    transactionOpen = false;
    descriptor = 0;
  }
  std::optional<std::string>& version() { return transactionOpen ? pending : committed; }
  int& xmlbRows() { return transactionOpen ? pendingXmlb : committedXmlb; }

  void violation(const std::string& what) {
    std::fprintf(stderr, "TdsPeer: %s\n", what.c_str());
    const std::lock_guard lock(mutex);
    violations.push_back(what);
  }
};

void TdsPeer::Impl::serve(int stopFd) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return;
    }
    std::array<pollfd, 2> entries{pollfd{listener.get(), POLLIN, 0}, pollfd{stopFd, POLLIN, 0}};
    const int ready = ::poll(entries.data(), entries.size(), static_cast<int>(left.count()));
    if (ready < 0 || (entries[1].revents & POLLIN) != 0) {
      return;
    }
    if (ready == 0) {
      continue;
    }
    Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.get() >= 0) {
      serveClient(client.get(), stopFd);
    }
  }
}

void TdsPeer::Impl::serveClient(int client, int stopFd) {
  Link link(client, stopFd, deadline);
  try {
    login(link);
    converse(link);
  } catch (const Violation& v) {
    violation(v.what);
  } catch (const ConnectionEnded&) {
  } catch (const std::exception& e) {
    violation(std::string("unexpected failure: ") + e.what());
  }
  // Whatever was not committed dies with the connection.
  const std::lock_guard lock(mutex);
  discardTransaction();
}

void TdsPeer::Impl::login(Link& link) {
  auto [type, payload] = link.receive();
  if (type != kPreLogin) {
    throw Violation{"expected PRELOGIN, got packet type " + hex(type)};
  }
  checkPreLogin(payload);
  link.send(preLoginReply());

  std::tie(type, payload) = link.receive();
  if (type != kLogin7) {
    throw Violation{"expected LOGIN7, got packet type " + hex(type)};
  }
  Reader in(payload, "LOGIN7");
  if (in.u32() != payload.size()) {
    throw Violation{"LOGIN7: its length field disagrees with the message"};
  }
  CapturedLogin captured;
  try {
    captured = decodeTdsLogin(payload);
  } catch (const std::out_of_range&) {
    throw Violation{"LOGIN7: a field lies outside the message"};
  }
  if (captured.tdsVersion != kTds74) {
    throw Violation{"LOGIN7: TDS version " + hex(captured.tdsVersion) + " instead of 7.4"};
  }
  const std::u16string database =
      text::toUtf16(captured.database.empty() ? "master" : captured.database);
  {
    const std::lock_guard lock(mutex);
    logins.push_back(captured);
  }

  Writer out;
  switch (options.login) {
    case Login::Accept:
      envChange(out, 1, database, u"master");
      message(out, kInfo, 5701, 0, u"Changed database context to '" + database + u"'.");
      envChange(out, 7, Bytes(kCollation.begin(), kCollation.end()), {});
      envChange(out, 2, u"us_english", u"");
      message(out, kInfo, 5703, 0, u"Changed language setting to us_english.");
      {
        Writer ack;
        ack.u8(1).u8(0x74).u8(0x00).u8(0x00).u8(0x04).bVarChar(u"Microsoft SQL Server");
        ack.u8(15).u8(0).u8(0x07).u8(0xD0);
        out.sized(kLoginAck, ack);
      }
      envChange(out, 4, u"4096", u"4096");
      done(out, kDone, 0);
      link.send(out.bytes());
      return;
    case Login::Refuse:
      message(out, kError, 18456, 14,
              u"Login failed for user '" + text::toUtf16(captured.userName) + u"'.");
      done(out, kDone, kDoneError);
      link.send(out.bytes());
      throw ConnectionEnded{};
    case Login::NeverAnswer: {
      const auto next = link.receive();
      throw Violation{"packet type " + hex(next.first) + " before the login was answered"};
    }
  }
}

void TdsPeer::Impl::converse(Link& link) {
  for (;;) {
    const auto [type, payload] = link.receive();
    if (type == kAttention) {
      throw Violation{"attention while no request was running"};
    }
    if (type != kSqlBatch && type != kRpc && type != kTransactionManager) {
      throw Violation{"packet type " + hex(type) + " after the login"};
    }
    TdsRequest request = decode(type, payload);
    const TdsFault* fault = nullptr;
    {
      const std::lock_guard lock(mutex);
      request.number = static_cast<int>(journal.size()) + 1;
      if (request.descriptor != descriptor) {
        throw Violation{"request " + std::to_string(request.number) + " carries descriptor " +
                        std::to_string(request.descriptor) + " while the current one is " +
                        std::to_string(descriptor)};
      }
      journal.push_back(request);
      fault = faultFor(request);
    }
    if (fault == nullptr) {
      Bytes reply;
      {
        const std::lock_guard lock(mutex);
        reply = respond(request);
      }
      link.send(reply);
      continue;
    }
    Writer out;
    switch (fault->action) {
      case TdsFault::Action::ServerError:
        message(out, kError, fault->errorNumber, fault->errorClass, text::toUtf16(fault->message));
        done(out, request.kind == TdsRequest::Kind::Rpc ? kDoneProc : kDone, kDoneError);
        link.send(out.bytes());
        break;
      case TdsFault::Action::DeadlockVictim: {
        message(out, kError, 1205, 13,
                u"Transaction (Process ID 51) was deadlocked on lock resources with another "
                u"process and has been chosen as the deadlock victim. Rerun the transaction.");
        {
          const std::lock_guard lock(mutex);
          if (transactionOpen) {
            envChange(out, 10, {}, descriptorBytes(descriptor));
          }
          discardTransaction();
        }
        done(out, request.kind == TdsRequest::Kind::Rpc ? kDoneProc : kDone, kDoneError);
        link.send(out.bytes());
        break;
      }
      case TdsFault::Action::DropConnection:
        throw ConnectionEnded{};
      case TdsFault::Action::StallAcknowledge:
        stall(link, true);
        break;
      case TdsFault::Action::StallIgnore:
        stall(link, false);
        break;
    }
  }
}

void TdsPeer::Impl::stall(Link& link, bool acknowledge) {
  for (;;) {
    const auto [type, payload] = link.receive();
    if (type != kAttention || !payload.empty()) {
      throw Violation{"packet type " + hex(type) + " while a request was running"};
    }
    {
      const std::lock_guard lock(mutex);
      ++attentions;
    }
    if (acknowledge) {
      Writer out;
      done(out, kDone, kDoneAttention);
      link.send(out.bytes());
      return;
    }
  }
}

const TdsFault* TdsPeer::Impl::faultFor(const TdsRequest& request) const {
  const std::string text = text::toUtf8(request.text);
  for (const auto& fault : options.faults) {
    if (fault.requestNumber == request.number ||
        (!fault.textContains.empty() && text.find(fault.textContains) != std::string::npos)) {
      return &fault;
    }
  }
  return nullptr;
}

// The normal answer to a request, with the state changes it makes. Called with the
// mutex held.
Bytes TdsPeer::Impl::respond(TdsRequest& request) {
  Writer out;
  using Kind = TdsRequest::Kind;
  switch (request.kind) {
    case Kind::Begin:
      if (transactionOpen) {
        throw Violation{"a transaction begins while one is open"};
      }
      beginTransaction(out);
      done(out, kDone, 0);
      break;
    case Kind::Commit:
    case Kind::Rollback: {
      const bool commit = request.kind == Kind::Commit;
      if (!transactionOpen) {
        // SQL Server's answer to a commit or rollback without a transaction.
        message(out, kError, commit ? 3902 : 3903, 16,
                commit ? u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."
                       : u"The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                         u"TRANSACTION.");
        done(out, kDone, kDoneError);
        break;
      }
      if (commit) {
        committed = pending;
        committedXmlb = pendingXmlb;
      }
      envChange(out, commit ? 9 : 10, {}, descriptorBytes(descriptor));
      discardTransaction();
      if (request.beginNext) {
        beginTransaction(out);
      }
      done(out, kDone, 0);
      break;
    }
    case Kind::Batch: {
      const std::string text = normalised(request.text);
      if (text == "select * from ver") {
        std::vector<std::vector<std::u16string>> rows;
        if (version()) {
          rows.push_back({text::toUtf16(*version())});
        }
        resultSet(out, {u"ver1"}, rows);
      } else if (text.starts_with("select * from xmlb")) {
        const std::vector<std::vector<std::u16string>> rows(
            static_cast<size_t>(xmlbRows()), {u"XYL", u"洗浴类", u"XMFL", u"0", u"0", u"XYL"});
        resultSet(out, {u"kinid", u"kindname", u"Parent", u"sign", u"leve", u"SRemark"}, rows);
      } else if (text == "select @@trancount") {
        resultSet(out, {}, {{transactionOpen ? u"1" : u"0"}});
      } else if (text.starts_with("select") && text.find(" into ") == std::string::npos) {
        throw Violation{"a query the peer has no answer for: " + text::toUtf8(request.text)};
      } else {
        const bool insert = text.starts_with("insert");
        if (text.starts_with("insert into xmlb(")) {
          ++xmlbRows();
        }
        const bool counts = insert || text.starts_with("update") || text.starts_with("delete");
        done(out, kDone, counts ? kDoneCount : 0, counts ? 1 : 0);
      }
      break;
    }
    case Kind::Rpc: {
      std::uint64_t rows = 0;
      if (normalised(request.text) == "update ver set ver1=@p1") {
        if (request.values.size() != 1 || !request.values[0].type.starts_with("NVARCHAR")) {
          throw Violation{"the version is written without one NVARCHAR value"};
        }
        if (version()) {
          version() = text::toUtf8(request.values[0].text);
          rows = 1;
        }
      }
      done(out, kDoneInProc, kDoneMore | kDoneCount, rows);
      out.u8(kReturnStatus).u32(0);
      done(out, kDoneProc, 0);
      break;
    }
  }
  return out.bytes();
}

std::uint64_t TdsPeer::Impl::allHeaders(Reader& in) const {
  // Exactly one header, the transaction descriptor: that is all FreeTDS sends.
  const std::uint32_t total = in.u32();
  const std::uint32_t length = in.u32();
  const std::uint16_t type = in.u16();
  if (total != 22 || length != 18 || type != 2) {
    throw Violation{"ALL_HEADERS of " + std::to_string(total) + " bytes, first header type " +
                    std::to_string(type) + " of " + std::to_string(length)};
  }
  const std::uint64_t carried = in.u64();
  if (const std::uint32_t outstanding = in.u32(); outstanding != 1) {
    throw Violation{"ALL_HEADERS: " + std::to_string(outstanding) + " outstanding requests"};
  }
  return carried;
}

TdsRequest TdsPeer::Impl::decode(std::uint8_t type, const Bytes& payload) const {
  TdsRequest request;
  if (type == kSqlBatch) {
    Reader in(payload, "SQL batch");
    request.kind = TdsRequest::Kind::Batch;
    request.descriptor = allHeaders(in);
    request.text = in.rest();
  } else if (type == kRpc) {
    Reader in(payload, "RPC");
    request.kind = TdsRequest::Kind::Rpc;
    request.descriptor = allHeaders(in);
    decodeRpc(in, request);
  } else {
    Reader in(payload, "transaction manager request");
    request.descriptor = allHeaders(in);
    decodeTransaction(in, request);
  }
  return request;
}

void TdsPeer::Impl::decodeRpc(Reader& in, TdsRequest& request) const {
  const std::uint16_t nameLength = in.u16();
  if (nameLength != 0xFFFF) {
    throw Violation{"RPC to a procedure by name: " +
                    text::toUtf8(in.utf16Bytes(size_t{nameLength} * 2))};
  }
  if (const std::uint16_t id = in.u16(); id != kSpExecuteSql) {
    throw Violation{"RPC to procedure id " + std::to_string(id)};
  }
  if (const std::uint16_t flags = in.u16(); flags != 0) {
    throw Violation{"RPC with option flags " + hex(flags)};
  }
  struct Parameter {
    std::u16string name;
    std::string type;
    std::u16string value;
  };
  std::vector<Parameter> parameters;
  while (!in.done()) {
    Parameter p;
    p.name = in.bVarChar();
    if (const std::uint8_t status = in.u8(); status != 0) {
      throw Violation{"RPC parameter with status " + hex(status)};
    }
    const std::uint8_t dataType = in.u8();
    if (dataType == kNText) {
      const std::uint32_t maxLength = in.u32();
      in.take(kCollation.size());
      const std::uint32_t length = in.u32();
      if (length > maxLength) {
        throw Violation{"NTEXT parameter longer than its declared size"};
      }
      p.type = "NTEXT";
      p.value = in.utf16Bytes(length);
    } else if (dataType == kNVarChar) {
      const std::uint16_t maxLength = in.u16();
      in.take(kCollation.size());
      const std::uint16_t length = in.u16();
      if (maxLength == 0xFFFF || length > maxLength) {
        throw Violation{"NVARCHAR parameter of " + std::to_string(length) + " bytes, at most " +
                        std::to_string(maxLength)};
      }
      p.type = "NVARCHAR(" + std::to_string(maxLength / 2) + ")";
      p.value = in.utf16Bytes(length);
    } else if (dataType == kBitN) {
      if (in.u8() != 1 || in.u8() != 1) {
        throw Violation{"BIT parameter that is not one byte"};
      }
      const std::uint8_t bit = in.u8();
      if (bit > 1) {
        throw Violation{"BIT parameter of value " + std::to_string(bit)};
      }
      p.type = "BIT";
      p.value = bit == 1 ? u"1" : u"0";
    } else {
      throw Violation{"RPC parameter of data type " + hex(dataType)};
    }
    parameters.push_back(std::move(p));
  }
  if (parameters.size() < 2 || parameters[0].type == "BIT" || parameters[1].type == "BIT") {
    throw Violation{"sp_executesql without its statement and parameter list"};
  }
  request.text = parameters[0].value;
  request.definitions = parameters[1].value;

  // Every value must be declared, in order: "@P1 BIT,@P2 NVARCHAR(9)".
  const std::string definitions = text::toUtf8(request.definitions);
  size_t at = 0;
  for (size_t i = 2; i < parameters.size(); ++i) {
    const size_t end = std::min(definitions.find(',', at), definitions.size());
    const std::string expected = "@P" + std::to_string(i - 1) + " " + parameters[i].type;
    if (definitions.substr(at, end - at) != expected) {
      throw Violation{"sp_executesql declares \"" + definitions + "\" for a value of type " +
                      parameters[i].type};
    }
    request.values.push_back({parameters[i].type, parameters[i].value});
    at = end + 1;
  }
  if (at < definitions.size() || parameters.size() == 2) {
    throw Violation{"sp_executesql declares \"" + definitions + "\" for " +
                    std::to_string(parameters.size() - 2) + " values"};
  }
}

void TdsPeer::Impl::decodeTransaction(Reader& in, TdsRequest& request) const {
  const std::uint16_t type = in.u16();
  auto unnamed = [&] {
    if (!in.bVarChar().empty()) {
      throw Violation{"a named transaction"};
    }
  };
  if (type == 5) {
    request.kind = TdsRequest::Kind::Begin;
    in.u8();  // isolation level
    unnamed();
  } else if (type == 7 || type == 8) {
    request.kind = type == 7 ? TdsRequest::Kind::Commit : TdsRequest::Kind::Rollback;
    unnamed();
    const std::uint8_t flags = in.u8();
    if ((flags & ~0x01) != 0) {
      throw Violation{"transaction request flags " + hex(flags)};
    }
    request.beginNext = flags == 0x01;
    if (request.beginNext) {
      in.u8();  // isolation level
      unnamed();
    }
  } else {
    throw Violation{"transaction manager request type " + std::to_string(type)};
  }
  in.expectEnd();
}

TdsPeer::TdsPeer() : TdsPeer(Options{}) {}

TdsPeer::TdsPeer(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->committed = impl_->options.version;
  impl_->committedXmlb = impl_->options.xmlbRows;
  impl_->deadline = Clock::now() + impl_->options.lifetime;
  impl_->listener = listeningLoopbackSocket(impl_->port);
  impl_->worker.start([impl = impl_.get()](int stopFd) { impl->serve(stopFd); });
}

TdsPeer::~TdsPeer() {
  impl_->worker.stop();
}

std::uint16_t TdsPeer::port() const {
  return impl_->port;
}

std::optional<std::string> TdsPeer::committedVersion() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->committed;
}

bool TdsPeer::transactionOpen() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->transactionOpen;
}

std::vector<TdsRequest> TdsPeer::journal() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->journal;
}

std::vector<CapturedLogin> TdsPeer::logins() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->logins;
}

int TdsPeer::attentions() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->attentions;
}

std::vector<std::string> TdsPeer::violations() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->violations;
}

namespace {

std::string json(std::u16string_view text) {
  std::string out = "\"";
  for (const char c : text::toUtf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string toJsonLine(const TdsRequest& request) {
  static constexpr std::array<const char*, 5> kNames = {"batch", "rpc", "begin", "commit",
                                                        "rollback"};
  std::string out = "{\"n\":" + std::to_string(request.number) + ",\"request\":\"" +
                    kNames.at(static_cast<size_t>(request.kind)) + "\"";
  if (request.kind == TdsRequest::Kind::Batch || request.kind == TdsRequest::Kind::Rpc) {
    out += ",\"text\":" + json(request.text);
  }
  if (request.kind == TdsRequest::Kind::Rpc) {
    out += ",\"params\":" + json(request.definitions) + ",\"values\":[";
    for (size_t i = 0; i < request.values.size(); ++i) {
      out += (i == 0 ? "" : ",") + json(request.values[i].text);
    }
    out += "]";
  }
  if (request.beginNext) {
    out += ",\"beginNext\":true";
  }
  return out + ",\"descriptor\":" + std::to_string(request.descriptor) + "}";
}

}  // namespace upgrade::testing
