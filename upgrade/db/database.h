// The one narrow door between the program and a database. Everything the upgrade
// needs goes through it: open, a transaction, statements with named parameters and
// queries that come back as rows of text. The production implementation speaks
// ODBC; the simulated one stands in for SQL Server in tests and in the preview tool.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace upgrade::db {

// Any failure reported by the database or the client library. what() carries the
// driver's own message so that it can be shown or compared in tests, and sqlState()
// the SQLSTATE the driver gave with it.
class DatabaseError : public std::runtime_error {
 public:
  // Who gave up on the request. Only a refusal by the server is about the statement
  // itself; after a time-out or a lost connection nobody knows whether it ran.
  enum class Kind {
    Server,         // the server raised an error for the request
    Timeout,        // the client gave up waiting, or cancelled the request
    Communication,  // the connection failed
    Client,         // the driver, the driver manager or this program refused it
  };

  explicit DatabaseError(const std::string& message, Kind kind = Kind::Client,
                         std::string_view sqlState = {})
      : std::runtime_error(message), kind_(kind) {
    sqlState.copy(sqlState_.data(), sqlState_.size() - 1);
  }

  [[nodiscard]] Kind kind() const noexcept { return kind_; }

  // The five-character SQLSTATE of the driver's diagnostic that decided the kind
  // ("42S02", "HYT00", "08S01"); empty when the failure was not the driver's.
  [[nodiscard]] std::string_view sqlState() const noexcept { return sqlState_.data(); }

 private:
  Kind kind_;
  // In place, so that copying the error cannot throw.
  std::array<char, 6> sqlState_{};
};

// A bound parameter value: text (UTF-8) or a boolean (sent as a bit).
using ParamValue = std::variant<std::string, bool>;

struct Param {
  std::string name;  // without the leading colon
  ParamValue value;
};
using Params = std::vector<Param>;

// Rows of an open query. A NULL column reads as the empty text. A database may
// hand over only the first rows and count the others in unlistedRows, so that a
// caller that only counts pays nothing per row.
struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> values;
  std::size_t unlistedRows = 0;  // found after those in values
};

// What a connection needs from the settings: the values of the provider string.
// They are kept apart rather than re-parsed from the string, because the string is
// built without escaping and a password may hold ';' or '='.
struct ConnectionTarget {
  std::string server;
  std::string database;
  std::string user;
  std::string password;
};

class Database {
 public:
  virtual ~Database() = default;

  // Opens the connection; a failed attempt throws DatabaseError and leaves the
  // object closed. loginTimeout bounds the whole attempt.
  virtual void open(const ConnectionTarget& target, std::chrono::seconds loginTimeout) = 0;
  virtual void close() noexcept = 0;
  [[nodiscard]] virtual bool isOpen() const noexcept = 0;

  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;

  // Whether the server still holds the transaction that begin() started. SQL Server
  // can end a transaction on its own (a deadlock victim, a severe error), and then
  // later statements would run outside it.
  [[nodiscard]] virtual bool transactionActive() = 0;

  // text may hold named parameter markers (":a1"); params supply their values by name.
  virtual void execute(const std::string& text, const Params& params) = 0;
  virtual Rows query(const std::string& text, const Params& params) = 0;
};

}  // namespace upgrade::db
