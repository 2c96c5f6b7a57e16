#include "odbc_handles.h"

#include <algorithm>
#include <utility>

#include "odbc_diagnostics.h"
#include "utf16.h"

namespace upgrade::odbc::detail {

namespace {

std::string narrow(const SQLWCHAR* text, size_t length) {
  std::u16string units(length, u'\0');
  std::transform(text, text + length, units.begin(),
                 [](SQLWCHAR unit) { return static_cast<char16_t>(unit); });
  return text::toUtf8(units);
}

}  // namespace

WideText wide(std::string_view utf8) {
  const std::u16string units = text::toUtf16(utf8);
  WideText out(units.size() + 1, 0);
  std::transform(units.begin(), units.end(), out.begin(),
                 [](char16_t unit) { return static_cast<SQLWCHAR>(unit); });
  return out;
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

Handle Handle::environment() {
  SQLHANDLE env = SQL_NULL_HANDLE;
  const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  // A failed allocation leaves no handle, and no diagnostics to read.
  Handle owner(SQL_HANDLE_ENV, SQL_SUCCEEDED(rc) ? env : SQL_NULL_HANDLE, SQL_NULL_HDBC);
  owner.check(rc, "Starting the ODBC driver manager");
  owner.check(SQLSetEnvAttr(owner.get(), SQL_ATTR_ODBC_VERSION, integerAttribute(SQL_OV_ODBC3), 0),
              "Asking for ODBC 3");
  return owner;
}

Handle Handle::allocate(SQLSMALLINT type, std::string_view action) const {
  SQLHANDLE child = SQL_NULL_HANDLE;
  check(SQLAllocHandle(type, handle_, &child), action);
  return {type, child, type == SQL_HANDLE_STMT ? connection_ : SQL_NULL_HDBC};
}

void Handle::check(SQLRETURN rc, std::string_view action) const {
  if (SQL_SUCCEEDED(rc)) {
    return;
  }
  const db::DatabaseError error = failureFrom(diagnosticRecords(type_, handle_), action);
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (error.kind() != db::DatabaseError::Kind::Communication && isConnected() &&
      SQL_SUCCEEDED(SQLGetConnectAttr(connection_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
      dead == SQL_CD_TRUE) {
    throw db::DatabaseError(error.what(), db::DatabaseError::Kind::Communication, error.sqlState());
  }
  throw error;
}

bool Handle::more(SQLRETURN rc, std::string_view action) const {
  if (rc == SQL_NO_DATA) {
    return false;
  }
  check(rc, action);
  return true;
}

void Handle::reset() noexcept {
  if (handle_ == SQL_NULL_HANDLE) {
    return;
  }
  if (type_ == SQL_HANDLE_DBC && isConnected()) {
    SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_ROLLBACK);
    SQLDisconnect(handle_);
  }
  SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
  connection_ = SQL_NULL_HDBC;
}

void Handle::swap(Handle& other) noexcept {
  std::swap(type_, other.type_);
  std::swap(handle_, other.handle_);
  std::swap(connection_, other.connection_);
}

}  // namespace upgrade::odbc::detail
