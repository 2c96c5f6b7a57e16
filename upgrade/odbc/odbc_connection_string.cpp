#include "odbc_connection_string.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "ascii.h"

namespace upgrade::odbc {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         text::equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (text::equalsIgnoringAsciiCase(text.substr(i, part.size()), part)) {
      return true;
    }
  }
  return false;
}

// What may stand around a host, instance or port as typed.
constexpr std::string_view kTypedBlanks = " \t";

// "18" or "13.1" or "11.0" -> (18, 0), (13, 1), (11, 0); nullopt if text is not that.
std::optional<std::pair<int, int>> parseVersion(std::string_view text) {
  int major = 0;
  int minor = 0;
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, major);
  if (result.ec != std::errc()) {
    return std::nullopt;
  }
  if (result.ptr != end && *result.ptr == '.') {
    result = std::from_chars(result.ptr + 1, end, minor);
    if (result.ec != std::errc()) {
      return std::nullopt;
    }
  }
  if (result.ptr != end) {
    return std::nullopt;
  }
  return std::pair{major, minor};
}

struct Candidate {
  SqlServerDriver driver;
  std::pair<int, int> version;
};

std::optional<Candidate> classify(const std::string& name) {
  constexpr std::string_view kMicrosoftPrefix = "ODBC Driver ";
  constexpr std::string_view kMicrosoftSuffix = " for SQL Server";
  constexpr std::string_view kNativeClientPrefix = "SQL Server Native Client ";
  const std::string_view text = name;
  if (startsWithIgnoringCase(text, kMicrosoftPrefix) && text.size() > kMicrosoftSuffix.size() &&
      text::equalsIgnoringAsciiCase(text.substr(text.size() - kMicrosoftSuffix.size()),
                                    kMicrosoftSuffix)) {
    const auto number = text.substr(
        kMicrosoftPrefix.size(), text.size() - kMicrosoftPrefix.size() - kMicrosoftSuffix.size());
    if (const auto version = parseVersion(number)) {
      return Candidate{{name, DriverFamily::Microsoft}, *version};
    }
  }
  if (startsWithIgnoringCase(text, kNativeClientPrefix)) {
    if (const auto version = parseVersion(text.substr(kNativeClientPrefix.size()))) {
      return Candidate{{name, DriverFamily::NativeClient}, *version};
    }
  }
  if (containsIgnoringCase(text, "FreeTDS")) {
    return Candidate{{name, DriverFamily::FreeTds}, {0, 0}};
  }
  if (text::equalsIgnoringAsciiCase(text, "SQL Server")) {
    return Candidate{{name, DriverFamily::Legacy}, {0, 0}};
  }
  return std::nullopt;
}

std::uint16_t parsePort(std::string_view text, std::string_view server) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
      value > 65535) {
    throw db::DatabaseError("The server \"" + std::string(server) +
                            "\" names no valid port after ','; expected a number from 1 to 65535");
  }
  return static_cast<std::uint16_t>(value);
}

bool isThisMachine(std::string_view host) {
  return host.empty() || host == "." || text::equalsIgnoringAsciiCase(host, "(local)");
}

// Writes keyword=value; with the value quoted for the driver; what cannot be
// quoted safely is refused, naming the setting as the operator knows it.
void append(std::string& out, DriverFamily family, std::string_view keyword,
            std::string_view setting, std::string_view value) {
  std::optional<std::string> quoted;
  if (family == DriverFamily::FreeTds) {
    quoted = freeTdsQuoted(value);
  } else {
    quoted = braceQuoted(value);
  }
  if (!quoted) {
    throw db::DatabaseError("The " + std::string(setting) +
                            " holds both '}' and ';' (or begins with '{' and holds '}'), which "
                            "FreeTDS cannot be given safely");
  }
  out += keyword;
  out += '=';
  out += *quoted;
  out += ';';
}

void appendFixed(std::string& out, std::string_view keyword, std::string_view value) {
  out += keyword;
  out += '=';
  out += value;
  out += ';';
}

}  // namespace

std::optional<SqlServerDriver> pickSqlServerDriver(const std::vector<std::string>& installed) {
  std::optional<Candidate> best;
  for (const auto& name : installed) {
    auto candidate = classify(name);
    if (!candidate) {
      continue;
    }
    // Families are declared in order of preference; within one, newer is better.
    // The first of equals (in the driver manager's order) stays.
    const auto rank = [](const Candidate& c) {
      return std::tuple{-static_cast<int>(c.driver.family), c.version};
    };
    if (!best || rank(*candidate) > rank(*best)) {
      best = std::move(candidate);
    }
  }
  if (!best) {
    return std::nullopt;
  }
  return best->driver;
}

ServerName parseServerName(std::string_view server) {
  std::string_view host = text::trimmed(server, kTypedBlanks);
  std::string_view instance;
  std::string_view port;
  bool hasPort = false;
  if (const auto slash = host.find('\\'); slash != std::string_view::npos) {
    instance = host.substr(slash + 1);
    host = host.substr(0, slash);
    if (const auto comma = instance.find(','); comma != std::string_view::npos) {
      port = instance.substr(comma + 1);
      instance = instance.substr(0, comma);
      hasPort = true;
    }
  } else if (const auto comma = host.find(','); comma != std::string_view::npos) {
    port = host.substr(comma + 1);
    host = host.substr(0, comma);
    hasPort = true;
  }
  host = text::trimmed(host, kTypedBlanks);
  ServerName name;
  name.host = isThisMachine(host) ? "127.0.0.1" : std::string(host);
  if (hasPort) {
    name.port = parsePort(text::trimmed(port, kTypedBlanks), server);
  } else {
    name.instance = std::string(text::trimmed(instance, kTypedBlanks));
  }
  return name;
}

std::string braceQuoted(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '{';
  for (const char c : value) {
    out += c;
    if (c == '}') {
      out += '}';
    }
  }
  out += '}';
  return out;
}

std::optional<std::string> freeTdsQuoted(std::string_view value) {
  if (value.find('}') == std::string_view::npos) {
    return "{" + std::string(value) + "}";
  }
  if (value.find(';') == std::string_view::npos && value.front() != '{') {
    return std::string(value);
  }
  return std::nullopt;
}

std::string odbcConnectionString(const db::ConnectionTarget& target, const SqlServerDriver& driver,
                                 const InstanceResolver& resolvePort) {
  for (const std::string* value :
       {&target.server, &target.database, &target.user, &target.password}) {
    // A NUL would end the string early for the driver manager and every driver.
    if (value->find('\0') != std::string::npos) {
      throw db::DatabaseError("A connection setting holds a NUL character and cannot be passed on");
    }
  }

  // The driver first: unixODBC reads the string through the locale's code set to
  // find it, and may lose what follows a character that code set lacks.
  std::string out;
  append(out, driver.family, "Driver", "driver name", driver.name);
  if (driver.family == DriverFamily::FreeTds) {
    const ServerName server = parseServerName(target.server);
    std::uint16_t port = kDefaultSqlServerPort;
    if (server.port) {
      port = *server.port;
    } else if (!server.instance.empty()) {
      // FreeTDS would ask the Browser itself, but retries for far longer than the
      // login time-out; our own lookup is bounded.
      port = resolvePort(server.host, server.instance);
    }
    append(out, driver.family, "Server", "server name", server.host);
    appendFixed(out, "Port", std::to_string(port));
  } else {
    // Microsoft's drivers understand every form of the name themselves, the local
    // machine's shared memory and named pipes included, and bound their own lookup
    // by the login time-out.
    append(out, driver.family, "Server", "server name",
           target.server.empty() ? std::string("(local)") : target.server);
  }
  append(out, driver.family, "Database", "database name", target.database);
  append(out, driver.family, "UID", "login", target.user);
  append(out, driver.family, "PWD", "password", target.password);

  switch (driver.family) {
    case DriverFamily::FreeTds:
      // Pinned rather than detected: detection may retry without the login
      // time-out. 7.4 is what detection offers SQL Server first; older servers
      // (2000 to 2008) answer the login with their own, lower version, which
      // FreeTDS then speaks.
      appendFixed(out, "TDS_Version", "7.4");
      appendFixed(out, "ClientCharset", "UTF-8");
      break;
    case DriverFamily::Microsoft:
    case DriverFamily::NativeClient:
      // No encryption unless the server demands it, as with the provider the
      // settings were written for; Driver 18 would otherwise insist on it and
      // reject the self-signed certificate that a venue's server has.
      appendFixed(out, "Encrypt", "no");
      appendFixed(out, "TrustServerCertificate", "yes");
      break;
    case DriverFamily::Legacy:
      break;
  }
  return out;
}

}  // namespace upgrade::odbc
