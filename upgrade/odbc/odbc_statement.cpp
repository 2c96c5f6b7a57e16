#include "odbc_statement.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <variant>

#include "utf16.h"

namespace upgrade::odbc::detail {

Statement::Statement(const Handle& connection, std::chrono::seconds timeout)
    : handle_(connection.allocate(SQL_HANDLE_STMT, "Allocating a statement")) {
  handle_.check(SQLSetStmtAttr(handle_.get(), SQL_ATTR_QUERY_TIMEOUT,
                               integerAttribute(static_cast<std::uintptr_t>(
                                   std::max<std::chrono::seconds::rep>(timeout.count(), 1))),
                               SQL_IS_UINTEGER),
                "Setting the statement time-out");
}

void Statement::run(const std::string& text, const db::Params& params) {
  const db::PositionalStatement positional = db::toPositional(text);
  bind(positional, params);
  run(positional);
}

void Statement::bind(const db::PositionalStatement& statement, const db::Params& params) {
  bindings_.resize(statement.names.size());
  for (size_t i = 0; i < statement.names.size(); ++i) {
    const std::string& name = statement.names[i];
    const auto found = std::find_if(params.begin(), params.end(),
                                    [&](const db::Param& p) { return p.name == name; });
    if (found == params.end()) {
      throw db::DatabaseError("No value was given for the parameter :" + name);
    }
    Binding& binding = bindings_[i];
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc = SQL_ERROR;
    if (const auto* text = std::get_if<std::string>(&found->value)) {
      binding.text = wide(*text);
      const size_t units = binding.text.size() - 1;
      binding.indicator = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
      rc = SQLBindParameter(handle_.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                            std::max<SQLULEN>(units, 1), 0, binding.text.data(),
                            static_cast<SQLLEN>(binding.text.size() * sizeof(SQLWCHAR)),
                            &binding.indicator);
    } else {
      binding.bit = std::get<bool>(found->value) ? 1 : 0;
      binding.indicator = sizeof binding.bit;
      rc = SQLBindParameter(handle_.get(), number, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0,
                            &binding.bit, sizeof binding.bit, &binding.indicator);
    }
    handle_.check(rc, "Binding the parameter :" + name);
  }
}

void Statement::run(const db::PositionalStatement& statement) {
  const WideText text = wide(statement.text);
  // SQL_NO_DATA: a searched update or delete that touched no row, which is no failure.
  handle_.more(SQLExecDirectW(handle_.get(), const_cast<SQLWCHAR*>(text.data()), lengthOf(text)),
               "Executing the statement");
}

bool Statement::nextResult() {
  return handle_.more(SQLMoreResults(handle_.get()), "Reading the next result");
}

void Statement::drainResults() {
  while (nextResult()) {
  }
}

SQLSMALLINT Statement::columnCount() {
  SQLSMALLINT count = 0;
  handle_.check(SQLNumResultCols(handle_.get(), &count), "Counting the result columns");
  return count;
}

std::string Statement::columnName(SQLUSMALLINT column) {
  WideText name(128, 0);
  SQLSMALLINT length = 0;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    handle_.check(
        SQLDescribeColW(handle_.get(), column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                        &length, &type, &size, &digits, &nullable),
        "Describing a result column");
    if (static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)) < name.size()) {
      break;
    }
    name.assign(static_cast<size_t>(length) + 1, 0);
  }
  return terminated(name, length);
}

bool Statement::fetch() {
  return handle_.more(SQLFetch(handle_.get()), "Fetching a row");
}

std::string Statement::columnText(SQLUSMALLINT column) {
  constexpr size_t kPieceUnits = 2048;
  WideText piece(kPieceUnits, 0);
  const size_t room = kPieceUnits - 1;  // one unit for the terminating NUL
  std::u16string value;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(handle_.get(), column, SQL_C_WCHAR, piece.data(),
                   static_cast<SQLLEN>(piece.size() * sizeof(SQLWCHAR)), &indicator);
    if (!handle_.more(rc, "Reading a column")) {
      break;  // the previous piece was the last
    }
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
  return text::toUtf8(value);
}

}  // namespace upgrade::odbc::detail
