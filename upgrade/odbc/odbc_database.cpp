#include "odbc_database.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "odbc_connection_string.h"
#include "odbc_handles.h"
#include "sql_parameters.h"
#include "ssrp.h"
#include "utf16.h"

namespace upgrade {
namespace {

using namespace odbc_detail;

class Statement {
 public:
  Statement(SQLHDBC dbc, std::chrono::seconds timeout) : dbc_(dbc) {
    odbc_detail::check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_), SQL_HANDLE_DBC, dbc,
                       "Allocating a statement");
    try {
      check(SQLSetStmtAttr(handle_, SQL_ATTR_QUERY_TIMEOUT,
                           integerAttribute(static_cast<std::uintptr_t>(
                               std::max<std::chrono::seconds::rep>(timeout.count(), 1))),
                           SQL_IS_UINTEGER),
            "Setting the statement time-out");
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_STMT, handle_);  // no destructor for a half-made object
      throw;
    }
  }
  ~Statement() {
    if (handle_ != SQL_NULL_HSTMT) {
      SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  [[nodiscard]] SQLHSTMT get() const { return handle_; }

  void check(SQLRETURN rc, std::string_view action) const {
    checkRequest(rc, SQL_HANDLE_STMT, handle_, dbc_, action);
  }

  // Named markers become '?', bound in marker order; a name used twice is bound
  // twice. The buffers live as long as the statement.
  void bind(const PositionalStatement& statement, const Params& params) {
    bindings_.resize(statement.names.size());
    for (size_t i = 0; i < statement.names.size(); ++i) {
      const std::string& name = statement.names[i];
      const auto found = std::find_if(params.begin(), params.end(),
                                      [&](const Param& p) { return p.name == name; });
      if (found == params.end()) {
        throw DatabaseError("No value was given for the parameter :" + name);
      }
      Binding& binding = bindings_[i];
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc = SQL_ERROR;
      if (const auto* text = std::get_if<std::string>(&found->value)) {
        binding.text = wide(*text);
        const size_t units = binding.text.size() - 1;
        binding.indicator = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
        rc = SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(units, 1), 0, binding.text.data(),
                              static_cast<SQLLEN>(binding.text.size() * sizeof(SQLWCHAR)),
                              &binding.indicator);
      } else {
        binding.bit = std::get<bool>(found->value) ? 1 : 0;
        binding.indicator = sizeof binding.bit;
        rc = SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0,
                              &binding.bit, sizeof binding.bit, &binding.indicator);
      }
      check(rc, "Binding the parameter :" + name);
    }
  }

  void run(const PositionalStatement& statement) {
    const WideText text = wide(statement.text);
    const SQLRETURN rc =
        SQLExecDirectW(handle_, const_cast<SQLWCHAR*>(text.data()), lengthOf(text));
    // SQL_NO_DATA: a searched update or delete that touched no row.
    if (rc != SQL_NO_DATA) {
      check(rc, "Executing the statement");
    }
  }

  // Moves past the current result; false when there is none left. Errors that SQL
  // Server reports after the first result arrive here.
  bool nextResult() {
    const SQLRETURN rc = SQLMoreResults(handle_);
    if (rc == SQL_NO_DATA) {
      return false;
    }
    check(rc, "Reading the next result");
    return true;
  }

  void drainResults() {
    while (nextResult()) {
    }
  }

  SQLSMALLINT columnCount() {
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(handle_, &count), "Counting the result columns");
    return count;
  }

  std::string columnName(SQLUSMALLINT column) {
    WideText name(128, 0);
    SQLSMALLINT length = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      check(SQLDescribeColW(handle_, column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                            &length, &type, &size, &digits, &nullable),
            "Describing a result column");
      if (static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)) < name.size()) {
        break;
      }
      name.assign(static_cast<size_t>(length) + 1, 0);
    }
    return terminated(name, length);
  }

  // The whole value of a column as text, read in pieces; NULL reads as "".
  std::string columnText(SQLUSMALLINT column) {
    constexpr size_t kPieceUnits = 2048;
    WideText piece(kPieceUnits, 0);
    const size_t room = kPieceUnits - 1;  // one unit for the terminating NUL
    std::u16string value;
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc =
          SQLGetData(handle_, column, SQL_C_WCHAR, piece.data(),
                     static_cast<SQLLEN>(piece.size() * sizeof(SQLWCHAR)), &indicator);
      if (rc == SQL_NO_DATA) {
        break;  // the previous piece was the last
      }
      check(rc, "Reading a column");
      if (indicator == SQL_NULL_DATA) {
        return {};
      }
      const bool whole =
          indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / sizeof(SQLWCHAR) <= room;
      const size_t units = whole ? static_cast<size_t>(indicator) / sizeof(SQLWCHAR) : room;
      std::transform(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(units),
                     std::back_inserter(value),
                     [](SQLWCHAR unit) { return static_cast<char16_t>(unit); });
      if (rc == SQL_SUCCESS || whole) {
        break;
      }
    }
    return toUtf8(value);
  }

 private:
  struct Binding {
    WideText text;
    unsigned char bit = 0;
    SQLLEN indicator = 0;
  };

  SQLHDBC dbc_;
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
  std::vector<Binding> bindings_;
};

}  // namespace

struct OdbcDatabase::Impl {
  Options options;
  Handles handles;

  SQLHDBC connection() const {
    if (!handles.connected) {
      throw DatabaseError("The database is not connected");
    }
    return handles.dbc;
  }

  void endTransaction(SQLSMALLINT completion, std::string_view action) const {
    const SQLHDBC dbc = connection();
    checkRequest(SQLEndTran(SQL_HANDLE_DBC, dbc, completion), SQL_HANDLE_DBC, dbc, dbc, action);
  }
};

OdbcDatabase::OdbcDatabase() : OdbcDatabase(Options{}) {}

OdbcDatabase::OdbcDatabase(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}

OdbcDatabase::~OdbcDatabase() = default;

std::vector<std::string> OdbcDatabase::installedDrivers() {
  std::vector<std::string> names;
  SQLHENV env = SQL_NULL_HENV;
  try {
    env = newEnvironment();
  } catch (const DatabaseError&) {
    return names;
  }
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    WideText description(256, 0);
    SQLWCHAR attributes[2] = {};
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc = SQLDriversW(env, direction, description.data(),
                                     static_cast<SQLSMALLINT>(description.size()),
                                     &descriptionLength, attributes, 2, &attributesLength);
    if (!SQL_SUCCEEDED(rc)) {
      break;  // SQL_NO_DATA after the last one
    }
    names.push_back(terminated(description, descriptionLength));
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return names;
}

std::chrono::seconds OdbcDatabase::remainingLoginTime(std::chrono::seconds budget,
                                                      std::chrono::steady_clock::duration spent) {
  // The driver counts in whole seconds. Taking off only the whole seconds spent lets
  // the attempt end up to a second late, at worst, but never before the budget.
  return std::max(budget - std::chrono::floor<std::chrono::seconds>(spent),
                  std::chrono::seconds(1));
}

void OdbcDatabase::open(const ConnectionTarget& target, std::chrono::seconds loginTimeout) {
  close();
  loginTimeout = impl_->options.loginTimeout.value_or(loginTimeout);
  const auto started = Clock::now();
  const auto driver = pickSqlServerDriver(installedDrivers());
  if (!driver) {
    throw DatabaseError(
        "No ODBC driver for SQL Server is installed (looked for Microsoft's \"ODBC Driver nn "
        "for SQL Server\", \"SQL Server Native Client\", FreeTDS and \"SQL Server\")");
  }

  // A third of the time for finding a named instance, the rest for the login. The
  // Browser answers within milliseconds when it answers at all.
  const auto lookupBudget = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::max(loginTimeout / 3, std::chrono::seconds(1)));
  const std::uint16_t browserPort = impl_->options.browserPort;
  const InstanceResolver resolve = [&](const std::string& host, const std::string& instance) {
    const auto port = ssrp::lookupInstancePort(host, instance, lookupBudget, browserPort);
    if (!port) {
      throw DatabaseError("The SQL Server Browser on " + host + " (UDP port " +
                          std::to_string(browserPort) + ") named no TCP port for the instance " +
                          instance + " in time");
    }
    return *port;
  };
  const std::string connectionString = odbcConnectionString(target, *driver, resolve);

  openConnectionString(connectionString, remainingLoginTime(loginTimeout, Clock::now() - started));
}

void OdbcDatabase::openConnectionString(const std::string& connectionString,
                                        std::chrono::seconds loginTimeout) {
  close();
  Handles handles;
  handles.env = newEnvironment();
  check(SQLAllocHandle(SQL_HANDLE_DBC, handles.env, &handles.dbc), SQL_HANDLE_ENV, handles.env,
        "Allocating a connection");
  check(SQLSetConnectAttr(handles.dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          integerAttribute(static_cast<std::uintptr_t>(
                              std::max<std::chrono::seconds::rep>(loginTimeout.count(), 1))),
                          SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, handles.dbc, "Setting the login time-out");

  const WideText text = wide(connectionString);
  check(SQLDriverConnectW(handles.dbc, nullptr, const_cast<SQLWCHAR*>(text.data()),
                          static_cast<SQLSMALLINT>(std::min<SQLINTEGER>(lengthOf(text), 32767)),
                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, handles.dbc, "Connecting");
  handles.connected = true;

  check(SQLSetConnectAttr(handles.dbc, SQL_ATTR_AUTOCOMMIT, integerAttribute(SQL_AUTOCOMMIT_OFF),
                          SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, handles.dbc, "Switching to manual commit");
  impl_->handles = std::move(handles);
}

void OdbcDatabase::close() noexcept {
  impl_->handles.release();
}

bool OdbcDatabase::isOpen() const noexcept {
  return impl_->handles.connected;
}

void OdbcDatabase::begin() {
  // The connection is in manual-commit mode: the transaction starts with its first
  // statement, and the one before it was ended explicitly.
  impl_->connection();
}

void OdbcDatabase::commit() {
  impl_->endTransaction(SQL_COMMIT, "Committing");
}

void OdbcDatabase::rollback() {
  impl_->endTransaction(SQL_ROLLBACK, "Rolling back");
}

bool OdbcDatabase::transactionActive() {
  const Rows rows = query("select @@TRANCOUNT", {});
  if (rows.values.empty() || rows.values.front().empty()) {
    throw DatabaseError("The server did not report its transaction count");
  }
  const std::string& count = rows.values.front().front();
  long value = 0;
  const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), value);
  if (error != std::errc() || end != count.data() + count.size()) {
    throw DatabaseError("The server reported the transaction count \"" + count + "\"");
  }
  return value > 0;
}

void OdbcDatabase::execute(const std::string& text, const Params& params) {
  Statement statement(impl_->connection(), impl_->options.statementTimeout);
  const PositionalStatement positional = toPositional(text);
  statement.bind(positional, params);
  statement.run(positional);
  statement.drainResults();
}

Rows OdbcDatabase::query(const std::string& text, const Params& params) {
  Statement statement(impl_->connection(), impl_->options.statementTimeout);
  const PositionalStatement positional = toPositional(text);
  statement.bind(positional, params);
  statement.run(positional);

  // Row counts of statements without rows may come first; the rows are the first
  // result that has columns.
  Rows rows;
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
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) {
      break;
    }
    statement.check(rc, "Fetching a row");
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

}  // namespace upgrade
