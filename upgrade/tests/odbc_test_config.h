// What the ODBC tests share: their own driver registry (set up before the first
// ODBC call, see the .cpp), and temporary SQLite databases. A program that talks
// ODBC calls missingTestDrivers() or makes a TemporaryDatabase, which brings the
// registry's set-up into it.
#pragma once

#include <string>

#include "scratch_dir.h"

namespace upgrade::testing {

// Empty when both test drivers were found at configure time; otherwise says which
// is missing, for a test to fail with.
std::string missingTestDrivers();

// A fresh SQLite database file that is removed again with the object.
class TemporaryDatabase {
 public:
  [[nodiscard]] std::string path() const { return (directory_ / "test.db").string(); }
  // A connection string for the SQLite3 ODBC driver on this file.
  [[nodiscard]] std::string connectionString() const;

 private:
  ScratchDir directory_{"odbc-test"};
};

}  // namespace upgrade::testing
