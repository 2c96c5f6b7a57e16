// The pretend server's state and behaviour: what it holds (the committed and the
// pending ver1, the xmlb rows, the open transaction), how it answers each request,
// the faults it plays, and its journal. The wire itself is tds_wire's.
#include "tds_peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <tuple>
#include <utility>

#include "ascii.h"
#include "tds_wire.h"
#include "utf16.h"

namespace upgrade::testing {

using namespace tds;  // the wire's words

namespace {

// The text for recognising the few requests the peer acts on: UTF-8, without
// trailing line breaks, lower case in ASCII.
std::string normalised(std::u16string_view text) {
  std::string out = text::toUtf8(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
    out.pop_back();
  }
  std::transform(out.begin(), out.end(), out.begin(), text::asciiLower);
  return out;
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
  int connections = 0;
  int connectionsEnded = 0;
  mutable std::condition_variable connectionEnded;

  Worker worker;  // last: its thread uses everything above

  void serve(int stopFd);
  void serveClient(int client, int stopFd);
  void login(Link& link);
  void converse(Link& link);
  Bytes respond(TdsRequest& request);
  const TdsFault* faultFor(const TdsRequest& request) const;
  void stall(Link& link, bool acknowledge);

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
  while (tds::awaitReadable(listener.get(), stopFd, deadline)) {
    Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.get() >= 0) {
      {
        const std::lock_guard lock(mutex);
        ++connections;
      }
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
  {
    // Whatever was not committed dies with the connection.
    const std::lock_guard lock(mutex);
    discardTransaction();
    ++connectionsEnded;
  }
  connectionEnded.notify_all();
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
  const CapturedLogin captured = decodeLogin(payload);
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
    case Login::HangUp:
      throw ConnectionEnded{};
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
    TdsRequest request = decodeRequest(type, payload);
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

void TdsPeer::awaitConnectionsEnded() const {
  std::unique_lock lock(impl_->mutex);
  impl_->connectionEnded.wait_until(
      lock, impl_->deadline, [this] { return impl_->connectionsEnded == impl_->connections; });
}

int TdsPeer::connections() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}

std::vector<std::string> TdsPeer::violations() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->violations;
}

}  // namespace upgrade::testing
