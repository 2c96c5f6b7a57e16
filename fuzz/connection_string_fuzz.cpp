// From the settings an operator typed to an ODBC connection string. For random
// server, database and password texts, the string is read the two ways that drivers
// read braces: the ODBC standard's (a '}' ends the value unless doubled) and that of
// Debian 12's FreeTDS (the value ends at the first "};", "}}" kept as it is). Both
// must give exactly the intended attributes with the original values, or the
// setting is refused with a message; no attribute is ever injected.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "connection_string_reader.h"
#include "database.h"
#include "fuzz_check.h"
#include "odbc_connection_string.h"

namespace {

using Attributes = upgrade::testing::ConnectionAttributes;
using upgrade::testing::BraceReading;
using upgrade::testing::readConnectionString;

// Whether refusing target for driver is justified, judged without the mapping code.
bool mayRefuse(const upgrade::db::ConnectionTarget& target, upgrade::odbc::DriverFamily family) {
  for (const std::string* value : {&target.server, &target.database, &target.password}) {
    if (value->find('\0') != std::string::npos) {
      return true;
    }
  }
  if (family != upgrade::odbc::DriverFamily::FreeTds) {
    return false;
  }
  try {
    const upgrade::odbc::ServerName name = upgrade::odbc::parseServerName(target.server);
    for (const std::string* value : {&name.host, &target.database, &target.password}) {
      const bool hasClose = value->find('}') != std::string::npos;
      if (hasClose && (value->find(';') != std::string::npos || value->starts_with('{'))) {
        return true;
      }
    }
    return false;
  } catch (const upgrade::db::DatabaseError&) {
    return true;  // not a port after ','
  }
}

void check(const upgrade::db::ConnectionTarget& target,
           const upgrade::odbc::SqlServerDriver& driver) {
  const std::string what = "server " + fuzzing::escaped(target.server) + ", database " +
                           fuzzing::escaped(target.database) + ", password " +
                           fuzzing::escaped(target.password) + " for " + driver.name;
  std::string text;
  try {
    text = upgrade::odbc::odbcConnectionString(
        target, driver,
        [](const std::string&, const std::string&) -> std::uint16_t { return 49172; });
  } catch (const upgrade::db::DatabaseError& error) {
    FUZZ_CHECK(mayRefuse(target, driver.family), "refused " + what + ": " + error.what());
    FUZZ_CHECK(std::string_view(error.what()).size() > 20, "an unclear refusal of " + what);
    return;
  }

  Attributes intended{{"Driver", driver.name},
                      {"Database", target.database},
                      {"UID", target.user},
                      {"PWD", target.password}};
  if (driver.family == upgrade::odbc::DriverFamily::FreeTds) {
    const upgrade::odbc::ServerName name = upgrade::odbc::parseServerName(target.server);
    intended["Server"] = name.host;
    intended["Port"] = std::to_string(name.port               ? *name.port
                                      : name.instance.empty() ? upgrade::odbc::kDefaultSqlServerPort
                                                              : 49172);
    intended["TDS_Version"] = "7.4";
    intended["ClientCharset"] = "UTF-8";
  } else {
    intended["Server"] = target.server.empty() ? "(local)" : target.server;
    intended["Encrypt"] = "no";
    intended["TrustServerCertificate"] = "yes";
  }

  const auto standard = readConnectionString(text, BraceReading::Standard);
  FUZZ_CHECK(standard && *standard == intended, what + " gave " + fuzzing::escaped(text));
  if (driver.family == upgrade::odbc::DriverFamily::FreeTds) {
    const auto freeTds = readConnectionString(text, BraceReading::FreeTds13);
    FUZZ_CHECK(freeTds && *freeTds == intended,
               what + " reads otherwise in FreeTDS: " + fuzzing::escaped(text));
  }
}

}  // namespace

// The input is the three texts separated by NUL bytes; a NUL inside a text is what
// the fourth and later fields add back to the password.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\0');
  const std::size_t second = first == std::string_view::npos ? first : input.find('\0', first + 1);
  upgrade::db::ConnectionTarget target;
  target.user = "sa";
  target.server = std::string(input.substr(0, first));
  if (first != std::string_view::npos) {
    target.database = std::string(input.substr(first + 1, second - first - 1));
  }
  if (second != std::string_view::npos) {
    target.password = std::string(input.substr(second + 1));
  }
  check(target, {"FreeTDS", upgrade::odbc::DriverFamily::FreeTds});
  check(target, {"ODBC Driver 18 for SQL Server", upgrade::odbc::DriverFamily::Microsoft});
  return 0;
}
