#include "odbc_test_config.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace upgrade::testing {
namespace {

bool found(const char* path) {
  return *path != '\0' && !std::string(path).ends_with("NOTFOUND");
}

// Runs before main, so before the driver manager first reads its configuration
// (unixODBC reads ODBCSYSINI once and keeps it).
//  - ODBCSYSINI: a registry that names the SQLite3 and FreeTDS drivers by path,
//    whatever the packages did or did not register in /etc/odbcinst.ini.
//  - FREETDSCONF: an empty freetds.conf, so that the machine's cannot steer FreeTDS.
//  - A UTF-8 character type: Debian's SQLite driver has only the narrow calls, and
//    the driver manager converts our UTF-16 to the locale's code set for it.
struct Configure {
  Configure() {
    ::setenv("ODBCSYSINI", ODBC_TEST_CONFIG_DIR, 1);
    ::setenv("FREETDSCONF", ODBC_TEST_CONFIG_DIR "/freetds.conf", 1);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
      std::setlocale(LC_CTYPE, "C.utf8");
    }
  }
} const configure;

}  // namespace

std::string missingTestDrivers() {
  std::string missing;
  if (!found(SQLITE3_ODBC_DRIVER)) {
    missing += "the SQLite3 ODBC driver (libsqliteodbc) ";
  }
  if (!found(FREETDS_ODBC_DRIVER)) {
    missing += "the FreeTDS ODBC driver (tdsodbc) ";
  }
  if (!missing.empty()) {
    missing += "was not found when the build was configured; run scripts/setup and configure again";
  }
  return missing;
}

TemporaryDatabase::TemporaryDatabase() {
  std::string pattern = (std::filesystem::temp_directory_path() / "odbc-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp() failed");
  }
  directory_ = pattern;
  path_ = directory_ + "/test.db";
}

TemporaryDatabase::~TemporaryDatabase() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::string TemporaryDatabase::connectionString() const {
  // The SQLite driver reads its own attributes without brace quoting; the path that
  // mkdtemp makes needs none.
  return "Driver={SQLite3};Database=" + path_ + ";";
}

}  // namespace upgrade::testing
