// From connection settings to an ODBC connection string: which driver, which
// server, and values that reach the driver intact whatever they hold.
#include <gtest/gtest.h>

#include <optional>

#include "connection_string_reader.h"
#include "odbc_connection_string.h"

namespace upgrade::odbc {
namespace {

using Attributes = testing::ConnectionAttributes;
using testing::BraceReading;

// A connection string as the drivers read it (see the reader); one that does not
// read as keyword=value pairs, or names a keyword twice (an injection), fails the
// test.
Attributes parseAttributes(std::string_view text, BraceReading reading = BraceReading::Standard) {
  std::string why;
  std::optional<Attributes> attributes = testing::readConnectionString(text, reading, &why);
  if (!attributes) {
    ADD_FAILURE() << why;
    return {};
  }
  return std::move(*attributes);
}

// A FreeTDS connection string, read both ways, which must agree.
Attributes parseFreeTds(const std::string& text) {
  const Attributes standard = parseAttributes(text, BraceReading::Standard);
  EXPECT_EQ(parseAttributes(text, BraceReading::FreeTds13), standard) << text;
  return standard;
}

const SqlServerDriver kFreeTds{"FreeTDS", DriverFamily::FreeTds};
const SqlServerDriver kDriver18{"ODBC Driver 18 for SQL Server", DriverFamily::Microsoft};

std::uint16_t noLookup(const std::string& host, const std::string& instance) {
  ADD_FAILURE() << "unexpected instance lookup of " << host << "\\" << instance;
  return 0;
}

db::ConnectionTarget target(std::string server, std::string password = "",
                            std::string database = "Kvb") {
  return db::ConnectionTarget{std::move(server), std::move(database), "sa", std::move(password)};
}

TEST(DriverChoice, PrefersMicrosoftsNewestThenNativeClientThenFreeTdsThenTheOldDriver) {
  const auto pick = [](std::vector<std::string> installed) {
    const auto driver = pickSqlServerDriver(installed);
    return driver ? driver->name : std::string("(none)");
  };
  EXPECT_EQ(pick({"SQL Server", "FreeTDS", "SQL Server Native Client 11.0",
                  "ODBC Driver 13 for SQL Server", "ODBC Driver 18 for SQL Server",
                  "ODBC Driver 17 for SQL Server"}),
            "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(pick({"ODBC Driver 11 for SQL Server", "ODBC Driver 13.1 for SQL Server",
                  "ODBC Driver 13 for SQL Server"}),
            "ODBC Driver 13.1 for SQL Server");
  EXPECT_EQ(pick({"SQL Server", "SQL Server Native Client 10.0", "SQL Server Native Client 11.0",
                  "FreeTDS"}),
            "SQL Server Native Client 11.0");
  EXPECT_EQ(pick({"SQLite3", "PostgreSQL Unicode", "FreeTDS", "SQL Server"}), "FreeTDS");
  EXPECT_EQ(pick({"SQLite3", "SQL Server"}), "SQL Server");
  EXPECT_EQ(pick({"SQLite3", "PostgreSQL ANSI", "ODBC Driver for Something Else", "MySQL"}),
            "(none)");
  EXPECT_EQ(pick({}), "(none)");

  EXPECT_EQ(pickSqlServerDriver({"FreeTDS"})->family, DriverFamily::FreeTds);
  EXPECT_EQ(pickSqlServerDriver({"ODBC Driver 17 for SQL Server"})->family,
            DriverFamily::Microsoft);
}

TEST(ServerNames, TheLocalMachineBecomesTheLoopbackAddress) {
  for (const char* local : {"", ".", "(local)", "(LOCAL)", "  .  "}) {
    const ServerName name = parseServerName(local);
    EXPECT_EQ(name.host, "127.0.0.1") << '"' << local << '"';
    EXPECT_EQ(name.instance, "");
    EXPECT_EQ(name.port, std::nullopt);
  }
  EXPECT_EQ(parseServerName("192.168.1.10").host, "192.168.1.10");
  EXPECT_EQ(parseServerName("POS-SERVER").host, "POS-SERVER");
}

TEST(ServerNames, InstancesAndPortsAreTakenApart) {
  const ServerName named = parseServerName("POS1\\SQLEXPRESS");
  EXPECT_EQ(named.host, "POS1");
  EXPECT_EQ(named.instance, "SQLEXPRESS");
  EXPECT_EQ(named.port, std::nullopt);

  const ServerName localNamed = parseServerName(".\\KVB");
  EXPECT_EQ(localNamed.host, "127.0.0.1");
  EXPECT_EQ(localNamed.instance, "KVB");
  EXPECT_EQ(parseServerName("(local)\\KVB").host, "127.0.0.1");

  const ServerName withPort = parseServerName("10.0.0.5,1500");
  EXPECT_EQ(withPort.host, "10.0.0.5");
  EXPECT_EQ(withPort.instance, "");
  EXPECT_EQ(withPort.port, 1500);
  EXPECT_EQ(parseServerName(",1500").host, "127.0.0.1");

  // Both: the port wins and no lookup is needed.
  const ServerName both = parseServerName("POS1\\KVB,1501");
  EXPECT_EQ(both.host, "POS1");
  EXPECT_EQ(both.instance, "");
  EXPECT_EQ(both.port, 1501);
}

TEST(ServerNames, APortThatIsNoPortIsRefused) {
  for (const char* bad : {"host,", "host,http", "host,0", "host,65536", "host,-1", "host,1 2"}) {
    EXPECT_THROW(parseServerName(bad), db::DatabaseError) << bad;
  }
}

TEST(FreeTdsMapping, PinsTheProtocolVersionCharsetAndPortOfTheDefaultInstance) {
  const Attributes a =
      parseFreeTds(odbcConnectionString(target(".", "pw", "Kvb"), kFreeTds, noLookup));
  EXPECT_EQ(a, (Attributes{{"Driver", "FreeTDS"},
                           {"Server", "127.0.0.1"},
                           {"Port", "1433"},
                           {"Database", "Kvb"},
                           {"UID", "sa"},
                           {"PWD", "pw"},
                           {"TDS_Version", "7.4"},
                           {"ClientCharset", "UTF-8"}}));
}

TEST(FreeTdsMapping, ANamedInstanceIsLookedUpAndAnExplicitPortIsUsedAsItStands) {
  std::vector<std::string> asked;
  const InstanceResolver resolver = [&asked](const std::string& host,
                                             const std::string& instance) -> std::uint16_t {
    asked.push_back(host + "|" + instance);
    return 49733;
  };
  Attributes a = parseFreeTds(odbcConnectionString(target("POS1\\KVB"), kFreeTds, resolver));
  EXPECT_EQ(a["Server"], "POS1");
  EXPECT_EQ(a["Port"], "49733");
  a = parseFreeTds(odbcConnectionString(target(".\\SQLEXPRESS"), kFreeTds, resolver));
  EXPECT_EQ(a["Server"], "127.0.0.1");
  EXPECT_EQ(asked, (std::vector<std::string>{"POS1|KVB", "127.0.0.1|SQLEXPRESS"}));

  a = parseFreeTds(odbcConnectionString(target("10.0.0.5,1500"), kFreeTds, noLookup));
  EXPECT_EQ(a["Server"], "10.0.0.5");
  EXPECT_EQ(a["Port"], "1500");
}

TEST(FreeTdsMapping, AFailedLookupFailsTheMapping) {
  const InstanceResolver silent = [](const std::string&, const std::string&) -> std::uint16_t {
    throw db::DatabaseError("no answer");
  };
  EXPECT_THROW(odbcConnectionString(target("POS1\\KVB"), kFreeTds, silent), db::DatabaseError);
}

TEST(MicrosoftMapping, PassesTheServerAsTypedAndSwitchesEncryptionOffExplicitly) {
  const Attributes a =
      parseAttributes(odbcConnectionString(target("POS1\\KVB", "pw"), kDriver18, noLookup));
  EXPECT_EQ(a, (Attributes{{"Driver", "ODBC Driver 18 for SQL Server"},
                           {"Server", "POS1\\KVB"},
                           {"Database", "Kvb"},
                           {"UID", "sa"},
                           {"PWD", "pw"},
                           {"Encrypt", "no"},
                           {"TrustServerCertificate", "yes"}}));
  EXPECT_EQ(parseAttributes(odbcConnectionString(target("."), kDriver18, noLookup))["Server"], ".");
  EXPECT_EQ(parseAttributes(odbcConnectionString(target(""), kDriver18, noLookup))["Server"],
            "(local)");

  const Attributes legacy = parseAttributes(odbcConnectionString(
      target("."), SqlServerDriver{"SQL Server", DriverFamily::Legacy}, noLookup));
  EXPECT_EQ(legacy.count("Encrypt"), 0U);  // a keyword the old driver does not know
  EXPECT_EQ(legacy.at("Driver"), "SQL Server");
}

TEST(ValueQuoting, ForFreeTdsAValueIsWrittenSoThatOldAndNewFreeTdsReadItAlike) {
  EXPECT_EQ(freeTdsQuoted(""), "{}");
  EXPECT_EQ(freeTdsQuoted("a;b={c"), "{a;b={c}");
  EXPECT_EQ(freeTdsQuoted("a}b=c{"), "a}b=c{");  // a '}' without ';' goes bare
  EXPECT_EQ(freeTdsQuoted("a};b"), std::nullopt);
  EXPECT_EQ(freeTdsQuoted("a}b;c"), std::nullopt);
  EXPECT_EQ(freeTdsQuoted("{a}"), std::nullopt);  // bare, it would read as braced
}

const std::vector<std::string> kHostileValues = {
    "a;b",
    "x;UID=admin",
    "}",
    "}}",
    "{",
    "{}",
    "=",
    "p}=q",
    "{x;y",
    "pw;TDS_Version=5.0",
    "}};Port=1;",
    "};PWD={x",
    " padded ",
    "密码;{}=",
    "\\",
    "x,1;",
    "p}=;q",
    "a}b",
    ";Driver={SQLite3}",
};

TEST(ValueQuoting, NoPasswordOrDatabaseNameCanInjectAnAttributeIntoMicrosoftsDrivers) {
  for (const auto& value : kHostileValues) {
    const Attributes a = parseAttributes(odbcConnectionString(
        db::ConnectionTarget{"POS1", value, "sa", value}, kDriver18, noLookup));
    EXPECT_EQ(a.at("PWD"), value);
    EXPECT_EQ(a.at("Database"), value);
    EXPECT_EQ(a.at("Driver"), "ODBC Driver 18 for SQL Server");
    EXPECT_EQ(a.at("UID"), "sa");
    EXPECT_EQ(a.size(), 7U) << "an extra attribute appeared for " << value;
  }
  // The server is quoted too.
  const Attributes a =
      parseAttributes(odbcConnectionString(target("db;PWD={x}}"), kDriver18, noLookup));
  EXPECT_EQ(a.at("Server"), "db;PWD={x}}");
  EXPECT_EQ(a.at("PWD"), "");
}

TEST(ValueQuoting, NoPasswordOrDatabaseNameCanInjectAnAttributeIntoFreeTds) {
  for (const auto& value : kHostileValues) {
    const db::ConnectionTarget hostile{"POS1,1433", value, "sa", value};
    if (!freeTdsQuoted(value)) {
      // Refused, and the message says which setting and why.
      try {
        odbcConnectionString(hostile, kFreeTds, noLookup);
        ADD_FAILURE() << "accepted " << value;
      } catch (const db::DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("database name"), std::string::npos) << e.what();
      }
      continue;
    }
    const Attributes a = parseFreeTds(odbcConnectionString(hostile, kFreeTds, noLookup));
    EXPECT_EQ(a.at("PWD"), value);
    EXPECT_EQ(a.at("Database"), value);
    EXPECT_EQ(a.at("Driver"), "FreeTDS");
    EXPECT_EQ(a.at("UID"), "sa");
    EXPECT_EQ(a.at("Port"), "1433");
    EXPECT_EQ(a.at("TDS_Version"), "7.4");
    EXPECT_EQ(a.size(), 8U) << "an extra attribute appeared for " << value;
  }
  EXPECT_THROW(odbcConnectionString(target(".", "pw};Port=1"), kFreeTds, noLookup),
               db::DatabaseError);
}

TEST(ValueQuoting, ANulCharacterIsRefusedRatherThanCuttingTheStringShort) {
  EXPECT_THROW(odbcConnectionString(target(".", std::string("a\0b", 3)), kFreeTds, noLookup),
               db::DatabaseError);
}

}  // namespace
}  // namespace upgrade::odbc
