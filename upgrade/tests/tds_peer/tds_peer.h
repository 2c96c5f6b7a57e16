// TdsPeer: a pretend SQL Server for tests, on 127.0.0.1 only. It speaks just enough
// TDS 7.4 for FreeTDS to log in, send batches, call sp_executesql and drive its
// transactions, and it keeps what a server would: the committed and the pending
// ver1, whether a transaction is open, and a decoded journal of every request.
//
// It is strict on purpose: a packet, token, type or procedure it does not know, a
// length that does not add up, or a request that carries the wrong transaction
// descriptor is recorded as a violation, written to stderr, and ends the connection.
// A test passes only when violations() is empty, so that a change in the driver
// shows up instead of being absorbed.
//
// It serves one connection at a time and stops by itself once its lifetime is over.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loopback_peers.h"

namespace upgrade::testing {

// What a client sent in its login (the LOGIN7 message), decoded.
struct CapturedLogin {
  std::uint32_t tdsVersion = 0;
  std::string hostName;
  std::string userName;
  std::string password;
  std::string appName;
  std::string serverName;
  std::string database;
};

// One request as it arrived, decoded.
struct TdsRequest {
  enum class Kind { Batch, Rpc, Begin, Commit, Rollback };
  struct Value {
    std::string type;     // as declared for sp_executesql: "BIT", "NVARCHAR(9)"
    std::u16string text;  // the value; a bit reads "0" or "1"
  };

  int number = 0;  // counted from 1 over the peer's life, across connections
  Kind kind = Kind::Batch;
  std::u16string text;           // the batch, or sp_executesql's statement, as received
  std::u16string definitions;    // sp_executesql's parameter list ("@P1 NVARCHAR(9)")
  std::vector<Value> values;     // sp_executesql's values, in order
  bool beginNext = false;        // a commit or rollback that starts the next transaction
  std::uint64_t descriptor = 0;  // the transaction descriptor the request carried
};

// What the peer does instead of answering a request normally. A fault matches a
// request by its number, or by a piece of its text (UTF-8).
struct TdsFault {
  enum class Action {
    ServerError,       // an error with errorNumber and errorClass; nothing else changes
    DeadlockVictim,    // error 1205, and the server ends the transaction
    DropConnection,    // the connection closes; the open transaction is lost
    StallAcknowledge,  // no answer until the client's attention, which is acknowledged
    StallIgnore,       // no answer at all, attention or not
  };
  Action action = Action::ServerError;
  std::string textContains;
  int requestNumber = 0;
  std::int32_t errorNumber = 50000;
  std::uint8_t errorClass = 16;
  std::string message = "The pretend server refuses this request.";
};

class TdsPeer {
 public:
  enum class Login {
    Accept,
    Refuse,       // error 18456, as for a wrong password, then the connection closes
    NeverAnswer,  // the login is read and never answered
    HangUp,       // the login is read, then the connection closes at once
  };

  struct Options {
    // The committed ver1; nullopt is a ver table without rows.
    std::optional<std::string> version = "1.0.0.0.0";
    // Rows that the ensure step's query on xmlb finds.
    int xmlbRows = 0;
    std::vector<TdsFault> faults;
    Login login = Login::Accept;
    // After this the peer stops serving, whatever state a client is in.
    std::chrono::seconds lifetime{120};
  };

  TdsPeer();
  explicit TdsPeer(Options options);
  ~TdsPeer();
  TdsPeer(const TdsPeer&) = delete;
  TdsPeer& operator=(const TdsPeer&) = delete;

  [[nodiscard]] std::uint16_t port() const;

  [[nodiscard]] std::optional<std::string> committedVersion() const;
  [[nodiscard]] bool transactionOpen() const;
  [[nodiscard]] std::vector<TdsRequest> journal() const;
  [[nodiscard]] std::vector<CapturedLogin> logins() const;
  [[nodiscard]] int attentions() const;
  // The connections accepted, each logged in or not.
  [[nodiscard]] int connections() const;
  // Returns once the peer has seen every connection it accepted end (or its lifetime
  // has): a client that closes moves on before the peer reads the close, and only
  // then is what it left uncommitted gone.
  void awaitConnectionsEnded() const;
  // What the peer did not understand, one line each.
  [[nodiscard]] std::vector<std::string> violations() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One request as a JSON object on one line, for people reading a journal.
std::string toJsonLine(const TdsRequest& request);

}  // namespace upgrade::testing
