// From the settings an operator typed to an ODBC connection string. For random
// server, database and password texts, the string is read the two ways that drivers
// read braces: the ODBC standard's (a '}' ends the value unless doubled) and that of
// Debian 12's FreeTDS (the value ends at the first "};", "}}" kept as it is). Both
// must give exactly the intended attributes with the original values, or the
// setting is refused with a message; no attribute is ever injected.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "database.h"
#include "fuzz_check.h"
#include "odbc_connection_string.h"

namespace {

using Attributes = std::map<std::string, std::string>;
enum class Reading { Standard, FreeTds13 };

// nullopt when the text does not parse as keyword=value pairs, or a keyword repeats.
std::optional<Attributes> read(std::string_view text, Reading reading) {
  Attributes attributes;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) {
      return std::nullopt;
    }
    std::string keyword(text.substr(i, equals - i));
    std::string value;
    i = equals + 1;
    if (i < text.size() && text[i] == '{' && reading == Reading::Standard) {
      for (++i;; ++i) {
        if (i >= text.size()) {
          return std::nullopt;
        }
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      if (i < text.size() && text[i] != ';') {
        return std::nullopt;
      }
    } else if (i < text.size() && text[i] == '{') {
      const std::size_t close = text.find("};", i + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close;
      value = std::string(text.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      while (i < text.size() && text[i] != ';') {
        value += text[i++];
      }
    }
    if (!attributes.emplace(std::move(keyword), std::move(value)).second) {
      return std::nullopt;
    }
    if (i < text.size()) {
      ++i;
    }
  }
  return attributes;
}

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

  const auto standard = read(text, Reading::Standard);
  FUZZ_CHECK(standard && *standard == intended, what + " gave " + fuzzing::escaped(text));
  if (driver.family == upgrade::odbc::DriverFamily::FreeTds) {
    const auto freeTds = read(text, Reading::FreeTds13);
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
