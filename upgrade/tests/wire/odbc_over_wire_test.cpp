// The ODBC layer over FreeTDS against the pretend server: what the driver reports
// for each kind of failure, long texts, named instances and logins that fail.
#include <chrono>
#include <iostream>

#include "utf16.h"
#include "wire_session.h"

namespace upgrade::testing {
namespace {

using Action = TdsFault::Action;
using ErrorKind = db::DatabaseError::Kind;

// What execute() threw, or nothing.
std::optional<db::DatabaseError> failureOf(odbc::OdbcDatabase& db, const std::string& text,
                                           const db::Params& params = {}) {
  try {
    db.execute(text, params);
  } catch (const db::DatabaseError& e) {
    return e;
  }
  return std::nullopt;
}

TEST_F(OverTheWire, ErrorsSayWhetherTheServerRefusedTheStatement) {
  TdsPeer& peer = startPeer({.faults = {
                                 {.action = Action::ServerError,
                                  .textContains = "refused",
                                  .errorNumber = 207,
                                  .message = "Invalid column name 'refused'."},
                                 {.action = Action::StallAcknowledge, .textContains = "stalls"},
                                 {.action = Action::DropConnection, .textContains = "drops"},
                             }});
  odbc::OdbcDatabase db(shortTimeouts());
  db.open(targetFor(peer), std::chrono::seconds(15));

  auto error = failureOf(db, "update t set refused=1");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Server) << error->what();
  EXPECT_EQ(error->sqlState(), "42S22") << error->what();
  EXPECT_NE(std::string(error->what()).find("Invalid column name 'refused'."), std::string::npos);
  error = failureOf(db, "update t set c=:a1 where refused=1", {{"a1", std::string("x")}});
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Server) << error->what();

  // A time-out is cancelled with an attention; the connection and its transaction
  // stay usable.
  error = failureOf(db, "update t set c=1 -- stalls");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Timeout) << error->what();
  EXPECT_EQ(error->sqlState(), "HYT00") << error->what();
  EXPECT_EQ(peer.attentions(), 1);
  EXPECT_TRUE(db.transactionActive());

  error = failureOf(db, "update t set c=1 -- drops");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Communication) << error->what();
  error = failureOf(db, "update t set c=2");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Communication) << error->what();
  EXPECT_EQ(error->sqlState(), "08S01") << error->what();
  EXPECT_FALSE(peer.transactionOpen());
}

TEST_F(OverTheWire, AStallThatIgnoresTheAttentionTimesOutAndLosesTheConnection) {
  TdsPeer& peer =
      startPeer({.faults = {{.action = Action::StallIgnore, .textContains = "stalls"}}});
  odbc::OdbcDatabase db(shortTimeouts());
  db.open(targetFor(peer), std::chrono::seconds(15));
  db.execute("update ver set ver1=:a1", {{"a1", std::string("pending")}});

  // The driver times out, waits as long again for the acknowledgement, and then
  // gives the connection up: the failure is the connection's.
  auto error = failureOf(db, "update t set c=1 -- stalls");
  ASSERT_TRUE(error);
  EXPECT_NE(std::string(error->what()).find("Timeout expired"), std::string::npos);
  EXPECT_EQ(error->kind(), ErrorKind::Communication) << error->what();
  EXPECT_EQ(peer.attentions(), 1);
  error = failureOf(db, "update t set c=2");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), ErrorKind::Communication) << error->what();
  EXPECT_EQ(peer.committedVersion(), "1.0.0.0.0");
}

TEST_F(OverTheWire, TextsLongerThanAPacketArriveWhole) {
  TdsPeer& peer = startPeer();
  odbc::OdbcDatabase db(shortTimeouts());
  db.open(targetFor(peer), std::chrono::seconds(15));

  // Over 8 KB of UTF-16 each, so more than two packets of 4096 bytes.
  std::string literal;
  for (int i = 0; i < 900; ++i) {
    literal += "消费明细 " + std::to_string(i) + "\r\n";
  }
  const std::string batch = "insert into t(c) values('" + literal + "')\r\n";
  const std::string bound = "update t set c=:a1 where d='" + literal + "'\r\n";
  ASSERT_GT(text::toUtf16(batch).size() * 2, 8192U);
  db.execute(batch, {});
  db.execute(bound, {{"a1", true}});
  db.commit();

  const auto journal = peer.journal();
  ASSERT_EQ(journal.size(), 4U);
  EXPECT_TRUE(journal[1].text == text::toUtf16(batch));
  EXPECT_EQ(journal[2].kind, TdsRequest::Kind::Rpc);
  EXPECT_TRUE(journal[2].text == text::toUtf16("update t set c=@P1 where d='" + literal + "'\r\n"));
  ASSERT_EQ(journal[2].values.size(), 1U);
  EXPECT_EQ(journal[2].values[0].type, "BIT");
  EXPECT_TRUE(journal[2].values[0].text == u"1");
}

TEST_F(OverTheWire, ANamedInstanceIsFoundThroughTheBrowser) {
  TdsPeer& peer = startPeer();
  const std::string record =
      "ServerName;TESTHOST;InstanceName;KVB;IsClustered;No;Version;"
      "15.0.2000.5;tcp;" +
      std::to_string(peer.port()) + ";;";
  BrowserResponder browser([&](const Bytes& request) {
    std::vector<Bytes> answer;
    if (request == Bytes{0x04, 'K', 'V', 'B', 0x00}) {
      answer.push_back(browserResponse(record));
    }
    return answer;
  });
  odbc::OdbcDatabase::Options options = shortTimeouts();
  options.browserPort = browser.port();
  odbc::OdbcDatabase db(options);
  db.open({"127.0.0.1\\KVB", "Kvb", "sa", "secret"}, std::chrono::seconds(15));

  const db::Rows rows = db.query("select * from ver", {});
  ASSERT_EQ(rows.values.size(), 1U);
  EXPECT_EQ(rows.values[0][0], "1.0.0.0.0");
  EXPECT_EQ(browser.requests().size(), 1U);
}

TEST_F(OverTheWire, FailedLoginsCarryTheReasonAndEndWithinTheBudget) {
  TdsPeer& refusing = startPeer({.login = TdsPeer::Login::Refuse});
  odbc::OdbcDatabase::Options options;
  options.loginTimeout = std::chrono::seconds(1);
  odbc::OdbcDatabase db(options);
  try {
    db.open(targetFor(refusing), std::chrono::seconds(15));
    ADD_FAILURE() << "a refused login opened";
  } catch (const db::DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Login failed for user 'sa'."), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(db.isOpen());

  TdsPeer& silent = startPeer({.login = TdsPeer::Login::NeverAnswer});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(db.open(targetFor(silent), std::chrono::seconds(15)), db::DatabaseError);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  std::cout << "unanswered login with a 1 s budget gave up after " << ms << " ms\n";
  EXPECT_EQ(silent.logins().size(), 1U);
}

TEST(LoginBudget, TheDriverGetsWhatIsLeftAndNeverLess) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  // Finding the driver takes milliseconds: the driver gets the whole budget, and
  // the attempt ends a few milliseconds after it, not a second early.
  EXPECT_EQ(odbc::OdbcDatabase::remainingLoginTime(seconds(15), milliseconds(4)), seconds(15));
  EXPECT_EQ(odbc::OdbcDatabase::remainingLoginTime(seconds(15), milliseconds(1900)), seconds(14));
  EXPECT_EQ(odbc::OdbcDatabase::remainingLoginTime(seconds(2), seconds(5)), seconds(1));
}

}  // namespace
}  // namespace upgrade::testing
