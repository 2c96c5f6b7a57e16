// What the ODBC tests share: their own driver registry (set up before the first
// ODBC call, see the .cpp), and temporary SQLite databases.
#pragma once

#include <string>

namespace upgrade::testing {

// Empty when both test drivers were found at configure time; otherwise says which
// is missing, for a test to fail with.
std::string missingTestDrivers();

// A fresh SQLite database file that is removed again with the object.
class TemporaryDatabase {
 public:
  TemporaryDatabase();
  ~TemporaryDatabase();
  TemporaryDatabase(const TemporaryDatabase&) = delete;
  TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  // A connection string for the SQLite3 ODBC driver on this file.
  [[nodiscard]] std::string connectionString() const;

 private:
  std::string directory_;
  std::string path_;
};

}  // namespace upgrade::testing
