// The ladder on the production path: the ODBC layer, unixODBC and FreeTDS, over TCP,
// against the pretend server. What arrives must be exactly what the ladder sends
// over the simulated database, and the server's faults must end the run the way
// the step protocol says.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "scratch_dir.h"
#include "unattended.h"
#include "wire_session.h"

namespace upgrade::testing {
namespace {

using Action = TdsFault::Action;
using Kind = TdsRequest::Kind;

std::vector<TdsRequest> framed(std::vector<TdsRequest> requests) {
  // The connection's first transaction, and the rollback of the one that is open
  // when it closes.
  TdsRequest begin;
  begin.kind = Kind::Begin;
  TdsRequest rollback;
  rollback.kind = Kind::Rollback;
  rollback.beginNext = true;
  requests.insert(requests.begin(), begin);
  requests.push_back(rollback);
  return requests;
}

TEST_F(OverTheWire, AFullRunSendsExactlyTheLaddersOperations) {
  TdsPeer& peer = startPeer();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(runLadder(peer), ladder::kUpgradeSucceeded);
  const auto elapsed = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(peer.committedVersion(), ladder::kLastVersion);
  const auto operations = wireForm(simulatedRun({}));
  const auto received = peer.journal();
  expectSameRequests(received, framed(operations));
  // Beyond the ladder's own operations, the connection costs two requests.
  EXPECT_EQ(received.size(), operations.size() + 2);

  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  RecordProperty("requests", static_cast<int>(received.size()));
  RecordProperty("milliseconds", static_cast<int>(ms));
  std::cout << "full run from 1.0.0.0.0: " << received.size() << " requests, " << ms
            << " ms from login to disconnect\n";
}

// Update --status on the production path: after the login, the peer sees only what
// the driver sends by itself at connect and close, around the ladder's first
// version read; it holds what it held, with no transaction left open.
TEST_F(OverTheWire, AStatusSendsOnlyTheLaddersFirstVersionRead) {
  TdsPeer& peer = startPeer({.version = "1.0.0.0.20"});
  const ScratchDir dir("wire-status");
  const std::filesystem::path settings = dir / "System.ini";
  writeSettingsFor(settings, peer);
  app::ProgramParts parts;
  parts.makeDatabase = [] { return std::make_unique<odbc::OdbcDatabase>(shortTimeouts()); };
  parts.settingsPath = [&settings] { return settings; };
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(app::runUnattended(parts, {.status = true}, out), 4);
  std::fclose(out);

  std::vector<db::JournalEntry> firstRead = simulatedRun({.version = "1.0.0.0.20"});
  firstRead.resize(2);  // the first step's begin and version read
  ASSERT_EQ(firstRead.back().kind, db::JournalEntry::Kind::Open);
  const auto received = peer.journal();
  expectSameRequests(received, framed(wireForm(firstRead)));
  peer.awaitConnectionsEnded();
  EXPECT_EQ(peer.committedVersion(), "1.0.0.0.20");
  EXPECT_FALSE(peer.transactionOpen());
  std::cout << "status run, the requests the peer saw:\n";
  for (const TdsRequest& request : received) {
    std::cout << toJsonLine(request) << '\n';
  }
}

// Server errors that the simulated database can play as well: the wire must carry
// the same operations, the failed statement and the transaction check included.
TEST_F(OverTheWire, ServerErrorsEndTheRunAsTheStepProtocolSays) {
  const std::string tolerant = "UserQx add czy_JBls";
  struct Case {
    const char* name;
    std::string version;
    TdsFault fault;
    db::SimulatedDatabase::Options mirror;
    std::string message;
    std::string finalVersion;
  };
  const std::vector<Case> cases = {
      {"failing step",
       "1.0.0.0.20",
       {.action = Action::ServerError, .textContains = "DROP COLUMN zkmxcode", .errorNumber = 4924},
       {.version = "1.0.0.0.20", .failOn = {"DROP COLUMN zkmxcode"}},
       "向V1.0.0.0.21升级时失败！",
       "1.0.0.0.20"},
      {"tolerated failure",
       "1.0.0.0.0",
       {.action = Action::ServerError, .textContains = tolerant, .errorNumber = 2705},
       {.failOn = {tolerant}},
       std::string(ladder::kUpgradeSucceeded),
       std::string(ladder::kLastVersion)},
      {"deadlock victim on a tolerant statement",
       "1.0.0.0.0",
       {.action = Action::DeadlockVictim, .textContains = tolerant},
       {.abortTransactionOn = {tolerant}},
       "向V1.0.0.0.9升级时失败！",
       "1.0.0.0.8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TdsPeer& peer = startPeer({.version = c.version, .faults = {c.fault}});
    EXPECT_EQ(runLadder(peer), c.message);
    EXPECT_EQ(peer.committedVersion(), c.finalVersion);
    expectSameRequests(peer.journal(), framed(wireForm(simulatedRun(c.mirror))));
  }
}

// Faults after which nobody knows what became of the request: each fails its step,
// promptly, and the peer keeps the version the step before left.
TEST_F(OverTheWire, ALostConnectionOrATimeOutFailsTheStep) {
  // The request number of the commit that would take the database to 1.0.0.0.6.
  const auto full = framed(wireForm(simulatedRun({})));
  int commits = 0;
  int sixthVersionCommit = 0;
  for (size_t i = 0; i < full.size() && sixthVersionCommit == 0; ++i) {
    // Seven commits: the ensure step commits without a new version.
    if (full[i].kind == Kind::Commit && ++commits == 7) {
      sixthVersionCommit = static_cast<int>(i) + 1;
    }
  }
  ASSERT_NE(sixthVersionCommit, 0);

  struct Case {
    const char* name;
    TdsFault fault;
    std::string message;
    std::string finalVersion;
    int attentions = 0;
  };
  const std::vector<Case> cases = {
      {"dropped on a statement",
       {.action = Action::DropConnection, .textContains = "UserQx add czy_JBls"},
       "向V1.0.0.0.9升级时失败！",
       "1.0.0.0.8"},
      {"dropped on a commit",
       {.action = Action::DropConnection, .requestNumber = sixthVersionCommit},
       "向V1.0.0.0.6升级时失败！",
       "1.0.0.0.5"},
      {"stall on a plain statement",
       {.action = Action::StallAcknowledge, .textContains = "Drop table 消费明细"},
       "向V1.0.0.0.1升级时失败！",
       "1.0.0.0.0",
       1},
      {"stall on a tolerant statement",
       {.action = Action::StallAcknowledge, .textContains = "UserQx add czy_JBls"},
       "向V1.0.0.0.9升级时失败！",
       "1.0.0.0.8",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TdsPeer& peer = startPeer({.faults = {c.fault}});
    EXPECT_EQ(runLadder(peer), c.message);
    EXPECT_EQ(peer.committedVersion(), c.finalVersion);
    EXPECT_EQ(peer.attentions(), c.attentions);
  }
}

}  // namespace
}  // namespace upgrade::testing
