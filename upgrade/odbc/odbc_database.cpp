#include "odbc_database.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "odbc_connection_string.h"
#include "odbc_handles.h"
#include "odbc_statement.h"
#include "ssrp.h"

namespace upgrade::odbc {

using namespace detail;
using Clock = std::chrono::steady_clock;

struct OdbcDatabase::Impl {
  Options options;
  // Declared parent first, so that the connection goes first.
  Handle environment;
  Handle connection;

  const Handle& connected() const {
    if (!connection.isConnected()) {
      throw db::DatabaseError("The database is not connected");
    }
    return connection;
  }

  void endTransaction(SQLSMALLINT completion, std::string_view action) const {
    const Handle& dbc = connected();
    dbc.check(SQLEndTran(SQL_HANDLE_DBC, dbc.get(), completion), action);
  }

  void release() noexcept {
    connection.reset();
    environment.reset();
  }
};

OdbcDatabase::OdbcDatabase() : OdbcDatabase(Options{}) {}

OdbcDatabase::OdbcDatabase(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}

OdbcDatabase::~OdbcDatabase() = default;

std::vector<std::string> OdbcDatabase::installedDrivers() {
  std::vector<std::string> names;
  try {
    const Handle env = Handle::environment();
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
      WideText description(256, 0);
      SQLWCHAR attributes[2] = {};
      SQLSMALLINT descriptionLength = 0;
      SQLSMALLINT attributesLength = 0;
      if (!env.more(SQLDriversW(env.get(), direction, description.data(),
                                static_cast<SQLSMALLINT>(description.size()), &descriptionLength,
                                attributes, 2, &attributesLength),
                    "Listing the ODBC drivers")) {
        break;
      }
      names.push_back(terminated(description, descriptionLength));
    }
  } catch (const db::DatabaseError&) {
    // No driver manager, or one that cannot list its drivers: those found so far.
  }
  return names;
}

std::chrono::seconds OdbcDatabase::remainingLoginTime(std::chrono::seconds budget,
                                                      std::chrono::steady_clock::duration spent) {
  // The driver counts in whole seconds. Taking off only the whole seconds spent lets
  // the attempt end up to a second late, at worst, but never before the budget.
  return std::max(budget - std::chrono::floor<std::chrono::seconds>(spent),
                  std::chrono::seconds(1));
}

void OdbcDatabase::open(const db::ConnectionTarget& target, std::chrono::seconds loginTimeout) {
  close();
  loginTimeout = impl_->options.loginTimeout.value_or(loginTimeout);
  const auto started = Clock::now();
  const auto driver = pickSqlServerDriver(installedDrivers());
  if (!driver) {
    throw db::DatabaseError(
        "No ODBC driver for SQL Server is installed (looked for Microsoft's \"ODBC Driver nn "
        "for SQL Server\", \"SQL Server Native Client\", FreeTDS and \"SQL Server\")");
  }

  // A third of the time for finding a named instance, the rest for the login. The
  // Browser answers within milliseconds when it answers at all.
  const auto lookupBudget = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::max(loginTimeout / 3, std::chrono::seconds(1)));
  const std::uint16_t browserPort = impl_->options.browserPort;
  const InstanceResolver resolve = [&](const std::string& host, const std::string& instance) {
    const auto port = net::ssrp::lookupInstancePort(host, instance, lookupBudget, browserPort);
    if (!port) {
      throw db::DatabaseError("The SQL Server Browser on " + host + " (UDP port " +
                              std::to_string(browserPort) +
                              ") named no TCP port for the instance " + instance + " in time");
    }
    return *port;
  };
  const std::string connectionString = odbcConnectionString(target, *driver, resolve);

  openConnectionString(connectionString, remainingLoginTime(loginTimeout, Clock::now() - started));
}

void OdbcDatabase::openConnectionString(const std::string& connectionString,
                                        std::chrono::seconds loginTimeout) {
  close();
  Handle env = Handle::environment();
  Handle dbc = env.allocate(SQL_HANDLE_DBC, "Allocating a connection");
  dbc.check(SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                              integerAttribute(static_cast<std::uintptr_t>(
                                  std::max<std::chrono::seconds::rep>(loginTimeout.count(), 1))),
                              SQL_IS_UINTEGER),
            "Setting the login time-out");

  const WideText text = wide(connectionString);
  dbc.check(SQLDriverConnectW(dbc.get(), nullptr, const_cast<SQLWCHAR*>(text.data()),
                              static_cast<SQLSMALLINT>(std::min<SQLINTEGER>(lengthOf(text), 32767)),
                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
            "Connecting");
  dbc.markConnected();

  dbc.check(SQLSetConnectAttr(dbc.get(), SQL_ATTR_AUTOCOMMIT, integerAttribute(SQL_AUTOCOMMIT_OFF),
                              SQL_IS_UINTEGER),
            "Switching to manual commit");
  impl_->environment = std::move(env);
  impl_->connection = std::move(dbc);
}

void OdbcDatabase::close() noexcept {
  impl_->release();
}

bool OdbcDatabase::isOpen() const noexcept {
  return impl_->connection.isConnected();
}

void OdbcDatabase::begin() {
  // The connection is in manual-commit mode: the transaction starts with its first
  // statement, and the one before it was ended explicitly.
  impl_->connected();
}

void OdbcDatabase::commit() {
  impl_->endTransaction(SQL_COMMIT, "Committing");
}

void OdbcDatabase::rollback() {
  impl_->endTransaction(SQL_ROLLBACK, "Rolling back");
}

bool OdbcDatabase::transactionActive() {
  const db::Rows rows = query("select @@TRANCOUNT", {});
  if (rows.values.empty() || rows.values.front().empty()) {
    throw db::DatabaseError("The server did not report its transaction count");
  }
  const std::string& count = rows.values.front().front();
  long value = 0;
  const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), value);
  if (error != std::errc() || end != count.data() + count.size()) {
    throw db::DatabaseError("The server reported the transaction count \"" + count + "\"");
  }
  return value > 0;
}

void OdbcDatabase::execute(const std::string& text, const db::Params& params) {
  Statement statement(impl_->connected(), impl_->options.statementTimeout);
  statement.run(text, params);
  statement.drainResults();
}

db::Rows OdbcDatabase::query(const std::string& text, const db::Params& params) {
  Statement statement(impl_->connected(), impl_->options.statementTimeout);
  statement.run(text, params);

  // Row counts of statements without rows may come first; the rows are the first
  // result that has columns.
  db::Rows rows;
  SQLSMALLINT columns = statement.columnCount();
  while (columns == 0) {
    if (!statement.nextResult()) {
      return rows;
    }
    columns = statement.columnCount();
  }
  for (SQLSMALLINT column = 1; column <= columns; ++column) {
    rows.columns.push_back(statement.columnName(static_cast<SQLUSMALLINT>(column)));
  }
  while (statement.fetch()) {
    std::vector<std::string> row;
    row.reserve(static_cast<size_t>(columns));
    for (SQLSMALLINT column = 1; column <= columns; ++column) {
      row.push_back(statement.columnText(static_cast<SQLUSMALLINT>(column)));
    }
    rows.values.push_back(std::move(row));
  }
  statement.drainResults();
  return rows;
}

}  // namespace upgrade::odbc
