// The ladder driver's protocol over the simulated database: one transaction per
// step, the version guard, the version update, rollback and the single closing
// outcome. These hold whatever the step bodies contain.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "ladder_journal.h"

namespace upgrade::ladder {
namespace {

using Kind = db::JournalEntry::Kind;

using testing::LadderRun;

constexpr const char* kVersionUpdate = "update ver set ver1=:a1\r\n";
constexpr const char* kVersionRead = "select * from ver\r\n";

std::vector<std::string> versionWrites(const std::vector<db::JournalEntry>& journal) {
  std::vector<std::string> out;
  for (const auto& e : journal) {
    if (e.kind == Kind::Execute && e.text == kVersionUpdate && !e.failed) {
      out.push_back(std::get<std::string>(e.params.at(0).value));
    }
  }
  return out;
}

int count(const std::vector<db::JournalEntry>& journal, Kind kind) {
  return static_cast<int>(std::count_if(journal.begin(), journal.end(),
                                        [&](const db::JournalEntry& e) { return e.kind == kind; }));
}

std::string version(int n) {
  return "1.0.0.0." + std::to_string(n);
}

TEST(LadderTable, HasThirtyTwoStepsWithTheEnsureStepBetweenProducerAndConsumer) {
  const auto all = ladderSteps();
  ASSERT_EQ(all.size(), 32u);
  EXPECT_EQ(all[0].precondition, "1.0.0.0.0");
  EXPECT_EQ(all[1].next, "1.0.0.0.2");
  EXPECT_EQ(all[2].precondition, "1.0.0.0.2");
  EXPECT_EQ(all[2].next, "1.0.0.0.2");
  EXPECT_EQ(all[3].precondition, "1.0.0.0.2");
  EXPECT_EQ(all[31].next, kLastVersion);
  // Outside the ensure step, each step consumes what the one before produced.
  for (size_t i = 1; i < all.size(); ++i) {
    EXPECT_EQ(all[i].precondition, all[i - 1].next) << "row " << i + 1;
    EXPECT_NE(all[i].body, nullptr);
  }
  std::set<std::string_view> preconditions;
  for (const auto& s : all) {
    preconditions.insert(s.precondition);
  }
  EXPECT_EQ(preconditions.size(), 31u);  // "1.0.0.0.2" appears twice
}

RunOutcome stepFailed(StepName step) {
  RunOutcome outcome;
  outcome.kind = RunOutcome::Kind::StepFailed;
  outcome.failedStep = step;
  return outcome;
}

// Each way a run ends gives its message box and the status of an unattended run.
TEST(RunOutcome, GivesTheClosingMessageAndTheUnattendedExitStatus) {
  struct Case {
    std::optional<RunOutcome> outcome;
    const char* text;
    int status;
  };
  const Case cases[] = {
      {RunOutcome{}, "升级成功！", 0},
      // A failed step names the version it was going to.
      {stepFailed({"1.0.0.0.0", "1.0.0.0.1"}), "向V1.0.0.0.1升级时失败！", 3},
      {stepFailed({"1.0.0.0.20", "1.0.0.0.21"}), "向V1.0.0.0.21升级时失败！", 3},
      {stepFailed({"1.0.0.0.30", "1.0.0.0.31"}), "向V1.0.0.0.31升级时失败！", 3},
      {RunOutcome::connectionFailed(nullptr), "服务器连接失败！", 2},
      {std::nullopt, nullptr, 1},  // the run ended without its closing message
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exitStatus(c.outcome), c.status);
    if (c.outcome) {
      EXPECT_EQ(closingMessage(*c.outcome).title, "提示信息");
      EXPECT_EQ(closingMessage(*c.outcome).text, c.text);
    }
  }
}

// Versions that no step expects: every step is one transaction holding only the
// version read, and the run still succeeds.
class NoMatchingStep : public ::testing::TestWithParam<std::optional<std::string>> {};

TEST_P(NoMatchingStep, IsThirtyTwoTransactionsThatOnlyReadTheVersion) {
  LadderRun run({.version = GetParam()});
  const auto& journal = run.db.journal();
  ASSERT_EQ(journal.size(), 32u * 3);
  for (size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(journal[3 * i].kind, Kind::Begin);
    EXPECT_EQ(journal[3 * i + 1].kind, Kind::Open);
    EXPECT_EQ(journal[3 * i + 1].text, kVersionRead);
    EXPECT_EQ(journal[3 * i + 2].kind, Kind::Commit);
  }
  EXPECT_EQ(run.db.version(), GetParam());
  EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::Upgraded);
  EXPECT_TRUE(run.outcome.applied.empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, NoMatchingStep,
                         ::testing::Values(std::optional<std::string>("1.0.0.0.31"),
                                           std::optional<std::string>(""),
                                           std::optional<std::string>(std::nullopt),
                                           std::optional<std::string>("1.0.0.0.2 "),
                                           std::optional<std::string>("1.0.0.0.32"),
                                           std::optional<std::string>("1.0.0.0.07")));

TEST(Ladder, FromAnyVersionWalksEveryLaterStepInOneRun) {
  for (int start = 0; start <= 30; ++start) {
    LadderRun run({.version = version(start)});
    std::vector<std::string> expected;
    for (int v = start + 1; v <= 31; ++v) {
      if (v == 3 && start <= 2) {
        expected.push_back("1.0.0.0.2");  // the ensure step rewrites the version it found
      }
      expected.push_back(version(v));
    }
    EXPECT_EQ(versionWrites(run.db.journal()), expected) << "start " << start;
    EXPECT_EQ(run.db.version(), "1.0.0.0.31");
    EXPECT_EQ(count(run.db.journal(), Kind::Begin), 32);
    EXPECT_EQ(count(run.db.journal(), Kind::Commit), 32);
    EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::Upgraded);
    // One applied step for each version written.
    ASSERT_EQ(run.outcome.applied.size(), expected.size()) << "start " << start;
    EXPECT_EQ(run.outcome.applied.front().precondition, version(start));
    EXPECT_EQ(run.outcome.applied.back().next, kLastVersion);
  }
}

TEST(Ladder, AFailedStepRollsBackShowsItsMessageAndStopsTheRun) {
  // The version update is the one statement every applied step sends.
  LadderRun run({.version = "1.0.0.0.9", .failOn = {"update ver set ver1"}});
  const auto& journal = run.db.journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back().kind, Kind::Rollback);
  EXPECT_EQ(run.db.version(), "1.0.0.0.9");
  EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::StepFailed);
  EXPECT_EQ(run.outcome.failedStep, (StepName{"1.0.0.0.9", "1.0.0.0.10"}));
  EXPECT_EQ(run.outcome.failedAt, "\"update ver set ver1=:a1\"");
  EXPECT_EQ(run.outcome.reason, "simulated: statement failed");
  EXPECT_TRUE(run.outcome.applied.empty());
  // Rows 1 to 11 of the ladder began (row 11 is the failing one); no later one did.
  EXPECT_EQ(count(journal, Kind::Begin), 11);
  EXPECT_EQ(count(journal, Kind::Commit), 10);
}

TEST(Ladder, AFailedVersionReadFailsTheFirstStep) {
  LadderRun run({.failOn = {"select * from ver"}});
  EXPECT_EQ(run.outcome.failedStep, (StepName{"1.0.0.0.0", "1.0.0.0.1"}));
  EXPECT_EQ(count(run.db.journal(), Kind::Begin), 1);
}

TEST(Ladder, ARollbackThatFailsStillEndsTheRunWithTheStepsMessage) {
  LadderRun run({.version = "1.0.0.0.30", .failOn = {"update ver"}, .failRollback = true});
  EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::StepFailed);
  EXPECT_EQ(run.outcome.failedStep, (StepName{"1.0.0.0.30", "1.0.0.0.31"}));
  EXPECT_TRUE(run.db.journal().back().failed);
}

TEST(Ladder, AFailedCommitFailsItsStep) {
  LadderRun run({.version = "1.0.0.0.31", .failCommit = true});
  EXPECT_EQ(run.outcome.failedStep, (StepName{"1.0.0.0.0", "1.0.0.0.1"}));
  EXPECT_EQ(run.outcome.failedAt, "commit");
  EXPECT_EQ(run.db.journal().back().kind, Kind::Rollback);
}

TEST(TolerantStatement, AFailureIsDroppedWhileTheTransactionLives) {
  db::SimulatedDatabase db({.failOn = {"ALTER Table UserQx add bjqy bit"}});
  db.open({}, std::chrono::seconds(1));
  StepQuery q(db);
  db.begin();
  Body(q).tolerant("ALTER Table UserQx add bjqy bit");
  const auto& journal = db.journal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_TRUE(journal[1].failed);
  // The check asks the server only on this failure path.
  EXPECT_EQ(journal[2].kind, Kind::Open);
  EXPECT_EQ(journal[2].text, "select @@TRANCOUNT");
  EXPECT_NO_THROW(db.commit());
}

TEST(TolerantStatement, FailsTheStepWhenTheServerEndedTheTransaction) {
  db::SimulatedDatabase db({.abortTransactionOn = {"ALTER Table UserQx add bjqy bit"}});
  db.open({}, std::chrono::seconds(1));
  StepQuery q(db);
  db.begin();
  EXPECT_THROW(Body(q).tolerant("ALTER Table UserQx add bjqy bit"), db::DatabaseError);
}

TEST(TolerantStatement, FailsTheStepWhenTheStatementTimedOut) {
  // The transaction lives on, but the statement may still be waiting on a lock:
  // skipping it would leave the column missing for good.
  db::SimulatedDatabase db({.timeOutOn = {"ALTER Table UserQx add bjqy bit"}});
  db.open({}, std::chrono::seconds(1));
  StepQuery q(db);
  db.begin();
  EXPECT_THROW(Body(q).tolerant("ALTER Table UserQx add bjqy bit"), db::DatabaseError);
  EXPECT_TRUE(db.transactionActive());
}

TEST(TolerantStatement, SuccessSendsNoTransactionCheck) {
  db::SimulatedDatabase db;
  db.open({}, std::chrono::seconds(1));
  StepQuery q(db);
  db.begin();
  Body(q).tolerant("ALTER Table UserQx add bjqy bit");
  EXPECT_EQ(db.journal().size(), 2u);
}

}  // namespace
}  // namespace upgrade::ladder
