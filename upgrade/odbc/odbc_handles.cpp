#include "odbc_handles.h"

#include <algorithm>

#include "odbc_diagnostics.h"
#include "utf16.h"

namespace upgrade::odbc_detail {

WideText wide(std::string_view utf8) {
  const std::u16string units = toUtf16(utf8);
  WideText out(units.size() + 1, 0);
  std::transform(units.begin(), units.end(), out.begin(),
                 [](char16_t unit) { return static_cast<SQLWCHAR>(unit); });
  return out;
}

std::string narrow(const SQLWCHAR* text, size_t length) {
  std::u16string units(length, u'\0');
  std::transform(text, text + length, units.begin(),
                 [](SQLWCHAR unit) { return static_cast<char16_t>(unit); });
  return toUtf8(units);
}

std::string terminated(const WideText& buffer, SQLSMALLINT reported) {
  const size_t limit =
      std::min(static_cast<size_t>(std::max<SQLSMALLINT>(reported, 0)), buffer.size() - 1);
  const auto end =
      std::find(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(limit), SQLWCHAR{0});
  return narrow(buffer.data(), static_cast<size_t>(end - buffer.begin()));
}

SQLINTEGER lengthOf(const WideText& text) {
  return static_cast<SQLINTEGER>(text.size() - 1);
}

SQLPOINTER integerAttribute(std::uintptr_t value) {
  return reinterpret_cast<SQLPOINTER>(value);
}

namespace {

// Every diagnostic record of a handle, in the driver's order.
std::vector<DiagnosticRecord> diagnosticRecords(SQLSMALLINT type, SQLHANDLE handle) {
  constexpr SQLSMALLINT kMostRecords = 32;
  std::vector<DiagnosticRecord> records;
  if (handle == SQL_NULL_HANDLE) {
    return records;
  }
  for (SQLSMALLINT record = 1; record <= kMostRecords; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    WideText message(512, 0);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length > 0 &&
        static_cast<size_t>(length) >= message.size()) {
      message.assign(std::min<size_t>(static_cast<size_t>(length) + 1, 32767), 0);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) {
      break;  // SQL_NO_DATA after the last record
    }
    const auto* stateEnd = std::find(state, state + 5, SQLWCHAR{0});
    records.push_back(
        {narrow(state, static_cast<size_t>(stateEnd - state)), terminated(message, length)});
  }
  return records;
}

}  // namespace

[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle, std::string_view action) {
  throw failureFrom(diagnosticRecords(type, handle), action);
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string_view action) {
  if (!SQL_SUCCEEDED(rc)) {
    fail(type, handle, action);
  }
}

void checkRequest(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, SQLHDBC dbc,
                  std::string_view action) {
  try {
    check(rc, type, handle, action);
  } catch (const DatabaseError& e) {
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (e.kind() != DatabaseError::Kind::Communication &&
        SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE) {
      throw DatabaseError(e.what(), DatabaseError::Kind::Communication, e.sqlState());
    }
    throw;
  }
}

SQLHENV newEnvironment() {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw DatabaseError("The ODBC driver manager is not available");
  }
  const SQLRETURN rc = SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, integerAttribute(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) {
    const DatabaseError error =
        failureFrom(diagnosticRecords(SQL_HANDLE_ENV, env), "Asking for ODBC 3");
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw error;
  }
  return env;
}

void Handles::swap(Handles& other) noexcept {
  std::swap(env, other.env);
  std::swap(dbc, other.dbc);
  std::swap(connected, other.connected);
}

void Handles::release() noexcept {
  if (dbc != SQL_NULL_HDBC) {
    if (connected) {
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
      SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  if (env != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  env = SQL_NULL_HENV;
  dbc = SQL_NULL_HDBC;
  connected = false;
}

}  // namespace upgrade::odbc_detail
