// How the connection settings become an ODBC connection string. The settings name
// a server the way SQL Server's own tools do ("." or "(local)", "host\instance",
// "host,port"), a database, the login and its password; which driver speaks to the
// server depends on what the machine has installed. These are pure functions: the
// installed drivers and the instance lookup are handed in.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace upgrade::odbc {

enum class DriverFamily {
  Microsoft,     // "ODBC Driver 18 for SQL Server" and its predecessors
  NativeClient,  // "SQL Server Native Client 11.0", "... 10.0"
  FreeTds,       // the driver on Linux
  Legacy,        // "SQL Server", the driver that Windows itself ships
};

struct SqlServerDriver {
  std::string name;  // as the driver manager lists it, and as Driver= names it
  DriverFamily family;
};

// The most capable SQL Server driver among the installed ones: Microsoft's current
// drivers, newest first, then Native Client, newest first, then FreeTDS, then the
// old Windows driver. Drivers for other databases are passed over.
std::optional<SqlServerDriver> pickSqlServerDriver(const std::vector<std::string>& installed);

// A server as typed, taken apart. "", "." and "(local)" stand for this machine;
// FreeTDS knows none of them, so they become the IPv4 loopback address (SQL
// Server's TCP listener binds every address by default, the loopback included).
// With "host\instance,port" the port wins and no lookup is needed, as with
// Microsoft's drivers.
struct ServerName {
  std::string host;
  std::string instance;               // empty for the default instance
  std::optional<std::uint16_t> port;  // from ",port"
};

// Throws DatabaseError when the text after ',' is not a port number.
ServerName parseServerName(std::string_view server);

// An ODBC attribute value in braces, each '}' doubled: the standard form in which
// ';', '=', '{' and '}' stay part of the value, as unixODBC, Microsoft's drivers and
// FreeTDS 1.4 read it.
std::string braceQuoted(std::string_view value);

// The same for FreeTDS, which before 1.4 (Debian 12 ships 1.3) reads a braced value
// up to the first "};" and keeps "}}" as two braces. Which of the two readings a
// driver has cannot be asked before connecting, so a value is written in a form
// that both read alike: in braces when it holds no '}', bare when it holds a '}' but
// no ';' (and does not begin with '{'). nullopt for a value that has no such form.
std::optional<std::string> freeTdsQuoted(std::string_view value);

// Finds the TCP port of a named instance on a host; throws DatabaseError when it
// cannot, and must return (or throw) within its own time budget.
using InstanceResolver =
    std::function<std::uint16_t(const std::string& host, const std::string& instance)>;

// The default instance's port, which FreeTDS is given explicitly so that nothing
// in a local freetds.conf can move it.
inline constexpr std::uint16_t kDefaultSqlServerPort = 1433;

// The connection string for target through driver. Every value is quoted, so none
// can add or change another attribute. Throws DatabaseError for a value that cannot
// be passed safely (a NUL character; for FreeTDS, '}' together with ';'), a bad
// port, or a failed instance lookup.
std::string odbcConnectionString(const db::ConnectionTarget& target, const SqlServerDriver& driver,
                                 const InstanceResolver& resolvePort);

}  // namespace upgrade::odbc
