// The production database: SQL Server through ODBC (unixODBC with FreeTDS on
// Linux, the Windows driver manager with Microsoft's drivers on Windows).
//
// The connection stays in manual-commit mode from open on, and every transaction is
// ended with SQLEndTran: switching autocommit back on would end it too, but FreeTDS
// rolls back there where the standard says commit. So statements run outside
// begin() and commit() belong to the next transaction, and close() rolls back what
// was not committed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace upgrade::odbc {

class OdbcDatabase final : public db::Database {
 public:
  // Every statement may run this long before the driver cancels it and it fails.
  static constexpr std::chrono::seconds kStatementTimeout{30};

  struct Options {
    // Where the SQL Server Browser answers; only tests move it off 1434.
    std::uint16_t browserPort = 1434;
    // Tests shorten these so that a server that stops answering costs seconds.
    std::chrono::seconds statementTimeout = kStatementTimeout;
    // When set, replaces the login time-out that open() is given.
    std::optional<std::chrono::seconds> loginTimeout;
  };

  OdbcDatabase();
  explicit OdbcDatabase(Options options);
  ~OdbcDatabase() override;
  OdbcDatabase(const OdbcDatabase&) = delete;
  OdbcDatabase& operator=(const OdbcDatabase&) = delete;

  // Picks the installed SQL Server driver, maps the settings onto it and connects.
  // A named instance's port is looked up first; the lookup and the login together
  // take loginTimeout, and never give up before it.
  void open(const db::ConnectionTarget& target, std::chrono::seconds loginTimeout) override;
  // Connects with a finished ODBC connection string, for any driver (tests use it
  // with the SQLite driver).
  void openConnectionString(const std::string& connectionString, std::chrono::seconds loginTimeout);
  void close() noexcept override;
  [[nodiscard]] bool isOpen() const noexcept override;
  void begin() override;
  void commit() override;
  void rollback() override;
  [[nodiscard]] bool transactionActive() override;
  void execute(const std::string& text, const db::Params& params) override;
  db::Rows query(const std::string& text, const db::Params& params) override;

  // The login time-out for the driver once `spent` of the budget has gone to
  // finding the driver and the instance's port.
  static std::chrono::seconds remainingLoginTime(std::chrono::seconds budget,
                                                 std::chrono::steady_clock::duration spent);

  // The drivers the driver manager knows, in its order; empty when there is none or
  // no driver manager at all.
  static std::vector<std::string> installedDrivers();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace upgrade::odbc
