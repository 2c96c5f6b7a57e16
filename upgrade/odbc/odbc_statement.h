// One statement on an open connection: its parameters bound, its text run, its
// results read as text.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "database.h"
#include "odbc_handles.h"
#include "sql_parameters.h"

namespace upgrade::odbc::detail {

class Statement {
 public:
  // A statement on connection that the driver cancels, and fails, after timeout.
  Statement(const Handle& connection, std::chrono::seconds timeout);

  // Runs text with its named markers made '?' and bound in marker order; a name used
  // twice is bound twice. The buffers live as long as the statement.
  void run(const std::string& text, const db::Params& params);

  // Moves past the current result; false when there is none left. Errors that SQL
  // Server reports after the first result arrive here.
  bool nextResult();
  void drainResults();

  SQLSMALLINT columnCount();
  std::string columnName(SQLUSMALLINT column);
  // Moves to the next row of the current result; false after the last.
  bool fetch();
  // The whole value of a column of the current row as text, read in pieces; NULL
  // reads as "".
  std::string columnText(SQLUSMALLINT column);

 private:
  struct Binding {
    WideText text;
    unsigned char bit = 0;
    SQLLEN indicator = 0;
  };

  void bind(const db::PositionalStatement& statement, const db::Params& params);
  void run(const db::PositionalStatement& statement);

  Handle handle_;
  std::vector<Binding> bindings_;
};

}  // namespace upgrade::odbc::detail
