#include "odbc_test_config.h"

#include <clocale>
#include <cstdlib>

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

std::string TemporaryDatabase::connectionString() const {
  // The SQLite driver reads its own attributes without brace quoting; the path of a
  // scratch directory needs none.
  return "Driver={SQLite3};Database=" + path() + ";";
}

}  // namespace upgrade::testing
