// Opening SQL Server connections through the real driver manager and the real
// FreeTDS driver, against peers on 127.0.0.1: a port that refuses, the pretend
// server taking the login, and a SQL Server Browser that the test plays.
#include <gtest/gtest.h>

#include "loopback_peers.h"
#include "odbc_database.h"
#include "odbc_test_config.h"
#include "ssrp.h"
#include "tds_peer.h"

namespace upgrade::odbc {
namespace {

using namespace std::chrono_literals;
using testing::BrowserResponder;
using testing::browserResponse;
using testing::Bytes;
using testing::CapturedLogin;
using testing::TdsPeer;

constexpr std::uint32_t kTds74 = 0x74000004;  // as LOGIN7 carries it, read little-endian

// The pretend server takes the login apart and hangs up, so the open fails at once.
const TdsPeer::Options kTakesTheLogin{.login = TdsPeer::Login::HangUp};

class FreeTdsConnect : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(testing::missingTestDrivers(), "");
    // The test registry has SQLite3 and FreeTDS; the SQL Server driver is FreeTDS.
    const auto installed = OdbcDatabase::installedDrivers();
    ASSERT_NE(std::find(installed.begin(), installed.end(), "FreeTDS"), installed.end());
  }

  // Opens and expects failure (nothing here completes a login); returns the message.
  static std::string failedOpen(OdbcDatabase& db, const db::ConnectionTarget& target,
                                std::chrono::seconds timeout = 15s) {
    try {
      db.open(target, timeout);
    } catch (const db::DatabaseError& e) {
      EXPECT_FALSE(db.isOpen());
      return e.what();
    }
    ADD_FAILURE() << "open() succeeded against " << target.server;
    return {};
  }
};

TEST_F(FreeTdsConnect, ARefusedConnectionFailsWithTheDriversMessage) {
  testing::RefusingTcpPort refusing;
  OdbcDatabase db;
  const std::string message =
      failedOpen(db, {"127.0.0.1," + std::to_string(refusing.port()), "Kvb", "sa", ""});
  EXPECT_NE(message.find("[FreeTDS]"), std::string::npos) << message;
}

TEST_F(FreeTdsConnect, TheLoginCarriesTheSettingsAndThePinnedProtocolVersion) {
  TdsPeer server(kTakesTheLogin);
  OdbcDatabase db;
  const std::string message =
      failedOpen(db, {"127.0.0.1," + std::to_string(server.port()), "Kvb", "sa", "secret"});
  EXPECT_NE(message.find("[FreeTDS]"), std::string::npos) << message;

  const auto logins = server.logins();
  ASSERT_EQ(logins.size(), 1U);
  EXPECT_EQ(logins[0].tdsVersion, kTds74);
  EXPECT_EQ(logins[0].userName, "sa");
  EXPECT_EQ(logins[0].password, "secret");
  EXPECT_EQ(logins[0].database, "Kvb");
  EXPECT_EQ(logins[0].serverName, "127.0.0.1");
}

TEST_F(FreeTdsConnect, PasswordsAndDatabaseNamesArriveIntactWhateverTheyHold) {
  // Braced values (';', '=', '{') and bare ones ('}' without ';'), as the driver on
  // this machine reads them, with attributes that must not take effect.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"p;w=d{x;PWD=other;Port=1;TDS_Version=5.0;服务器", "消费;库={"},
      {"x}y=z{w}", "库}名"},
      {" padded ", "}"},
  };
  for (const auto& [password, database] : cases) {
    TdsPeer server(kTakesTheLogin);
    OdbcDatabase db;
    failedOpen(db, {"127.0.0.1," + std::to_string(server.port()), database, "sa", password});

    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 1U) << password;
    EXPECT_EQ(logins[0].password, password);
    EXPECT_EQ(logins[0].database, database);
    EXPECT_EQ(logins[0].userName, "sa");
    EXPECT_EQ(logins[0].tdsVersion, kTds74);
  }
}

TEST_F(FreeTdsConnect, AValueFreeTdsCannotBeGivenSafelyIsRefusedBeforeConnecting) {
  TdsPeer server(kTakesTheLogin);
  OdbcDatabase db;
  const std::string message =
      failedOpen(db, {"127.0.0.1," + std::to_string(server.port()), "Kvb", "sa", "pw};Port=1"});
  EXPECT_NE(message.find("password"), std::string::npos) << message;
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(FreeTdsConnect, ANamedInstanceIsFoundThroughTheBrowserAndThenConnected) {
  TdsPeer server(kTakesTheLogin);
  const std::uint16_t tcpPort = server.port();
  BrowserResponder browser([tcpPort](const Bytes& request) {
    if (request != net::ssrp::instanceRequest("KVB")) {
      return std::vector<Bytes>{};
    }
    return std::vector<Bytes>{
        browserResponse("ServerName;POS1;InstanceName;KVB;IsClustered;No;"
                        "Version;15.0.2000.5;tcp;" +
                        std::to_string(tcpPort) + ";;")};
  });
  OdbcDatabase db(OdbcDatabase::Options{browser.port()});

  failedOpen(db, {".\\KVB", "Kvb", "sa", "pw"});

  EXPECT_EQ(browser.requests().size(), 1U);
  const auto logins = server.logins();
  ASSERT_EQ(logins.size(), 1U);
  EXPECT_EQ(logins[0].password, "pw");
}

TEST_F(FreeTdsConnect, AnInstanceTheBrowserDoesNotNameFailsWithinTheLoginTimeout) {
  testing::SilentUdpPort silentBrowser;
  TdsPeer server(kTakesTheLogin);  // would catch a connection that should not happen
  OdbcDatabase db(OdbcDatabase::Options{silentBrowser.port()});

  // With 3 s for the whole attempt, the lookup has one of them.
  const std::string message = failedOpen(db, {"127.0.0.1\\KVB", "Kvb", "sa", ""}, 3s);
  EXPECT_NE(message.find("SQL Server Browser"), std::string::npos) << message;
  EXPECT_NE(message.find("KVB"), std::string::npos) << message;
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(FreeTdsConnect, ReopeningAfterAFailureStartsClean) {
  testing::RefusingTcpPort refusing;
  TdsPeer server(kTakesTheLogin);
  OdbcDatabase db;
  failedOpen(db, {"127.0.0.1," + std::to_string(refusing.port()), "Kvb", "sa", ""});
  failedOpen(db, {"127.0.0.1," + std::to_string(server.port()), "Kvb", "sa", "second"});
  const auto logins = server.logins();
  ASSERT_EQ(logins.size(), 1U);
  EXPECT_EQ(logins[0].password, "second");
}

}  // namespace
}  // namespace upgrade::odbc
