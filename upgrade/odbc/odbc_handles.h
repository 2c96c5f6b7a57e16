// What every ODBC call of the layer shares: wide text in and out, the driver's own
// diagnostics as the error's message, and handles that free themselves.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "sql_headers.h"

namespace upgrade::odbc_detail {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters are UTF-16 units");

using Clock = std::chrono::steady_clock;
using WideText = std::vector<SQLWCHAR>;

// NUL-terminated, for the wide calls.
[[nodiscard]] WideText wide(std::string_view utf8);
[[nodiscard]] std::string narrow(const SQLWCHAR* text, size_t length);

// A name or message that the driver wrote into buffer, NUL-terminated, with the
// length it reported. The length can be wrong: unixODBC passes on the byte count of
// a narrow driver's UTF-8 text as though it counted characters. The NUL decides.
[[nodiscard]] std::string terminated(const WideText& buffer, SQLSMALLINT reported);

[[nodiscard]] SQLINTEGER lengthOf(const WideText& text);
[[nodiscard]] SQLPOINTER integerAttribute(std::uintptr_t value);

// Throws DatabaseError with the handle's diagnostics (message, kind and SQLSTATE),
// or says that action failed when the driver left none.
[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle, std::string_view action);
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string_view action);

// Like check(), for a request on the connection dbc. Some drivers word a lost
// connection as a plain warning (FreeTDS: "Unexpected EOF from the server", 01000),
// so the connection is asked whether it is still alive.
void checkRequest(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, SQLHDBC dbc,
                  std::string_view action);

// An environment and a connection handle that free themselves unless handed on.
struct Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  Handles(Handles&& other) noexcept { swap(other); }
  Handles& operator=(Handles&& other) noexcept {
    release();
    swap(other);
    return *this;
  }
  ~Handles() { release(); }

  void swap(Handles& other) noexcept;
  void release() noexcept;
};

// An ODBC 3 environment, or DatabaseError.
[[nodiscard]] SQLHENV newEnvironment();

}  // namespace upgrade::odbc_detail
