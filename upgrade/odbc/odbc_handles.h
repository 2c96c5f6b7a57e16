// What every ODBC call of the layer shares: wide text in and out, handles that free
// themselves, and one place where the outcome of every call is judged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The platform's ODBC headers, which the build names: sql_headers_posix.h or
// sql_headers_windows.h.
#include UPGRADE_SQL_HEADERS

namespace upgrade::odbc::detail {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters are UTF-16 units");

using WideText = std::vector<SQLWCHAR>;

// NUL-terminated, for the wide calls.
[[nodiscard]] WideText wide(std::string_view utf8);

// A name or message that the driver wrote into buffer, NUL-terminated, with the
// length it reported. The length can be wrong: unixODBC passes on the byte count of
// a narrow driver's UTF-8 text as though it counted characters. The NUL decides.
[[nodiscard]] std::string terminated(const WideText& buffer, SQLSMALLINT reported);

[[nodiscard]] SQLINTEGER lengthOf(const WideText& text);
[[nodiscard]] SQLPOINTER integerAttribute(std::uintptr_t value);

// An ODBC handle of any type, freed when it goes. A connection that was made on it
// is rolled back and disconnected first, so that nothing uncommitted survives.
// Handles are freed child before parent: whoever holds an environment and its
// connection lets go of the connection first.
//
// Every ODBC call's return code goes through check() or more() on the handle whose
// diagnostics describe the call; only freeing, in reset(), ignores what the driver
// says, as there is no one left to tell.
class Handle {
 public:
  Handle() noexcept = default;
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept { swap(other); }
  Handle& operator=(Handle&& other) noexcept {
    Handle(std::move(other)).swap(*this);
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  // A new ODBC 3 environment.
  [[nodiscard]] static Handle environment();
  // A new handle of type under this one: a connection on an environment, a
  // statement on a connection.
  [[nodiscard]] Handle allocate(SQLSMALLINT type, std::string_view action) const;

  [[nodiscard]] SQLHANDLE get() const noexcept { return handle_; }
  // Whether a connection was made on this connection handle, or on the one this
  // statement belongs to.
  [[nodiscard]] bool isConnected() const noexcept { return connection_ != SQL_NULL_HDBC; }
  // A connection was made on this connection handle.
  void markConnected() noexcept { connection_ = handle_; }

  // Throws DatabaseError for a call that failed: the driver's diagnostics on this
  // handle as the message, the kind of failure and the SQLSTATE. Some drivers word a
  // lost connection as a plain warning (FreeTDS: "Unexpected EOF from the server",
  // 01000), so on a connection that was made, the connection is asked whether it is
  // still alive.
  void check(SQLRETURN rc, std::string_view action) const;
  // The same for a call that may find nothing more to give (rows, results, pieces of
  // a value, drivers): false for SQL_NO_DATA.
  bool more(SQLRETURN rc, std::string_view action) const;

  void reset() noexcept;
  void swap(Handle& other) noexcept;

 private:
  Handle(SQLSMALLINT type, SQLHANDLE handle, SQLHDBC connection) noexcept
      : type_(type), handle_(handle), connection_(connection) {}

  SQLSMALLINT type_ = SQL_HANDLE_ENV;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
  // The connection made that this handle's requests travel on: itself for a
  // connection, its parent for a statement; null until a connection is made.
  SQLHDBC connection_ = SQL_NULL_HDBC;
};

}  // namespace upgrade::odbc::detail
