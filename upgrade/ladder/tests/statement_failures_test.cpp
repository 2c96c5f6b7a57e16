// Which failures a step survives. Each statement of a full run is made to fail on
// its own: exactly the tolerated ones let their step commit; any other rolls the
// step back, shows that step's message and ends the run there.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ladder_journal.h"

namespace upgrade::ladder {
namespace {

using testing::bodyOf;
using testing::LadderRun;
using testing::transactions;
using Kind = db::JournalEntry::Kind;

// (ladder row, statement), both counted from 1: the additions of rights that may
// already exist, and the identity column, key and key drop of lbxf.
const std::set<std::pair<size_t, size_t>> kTolerated{
    {10, 3},           // 1.0.0.0.8: czy_JBls
    {11, 1},           // 1.0.0.0.9: gdfk, scxy, xgxy, qdxy
    {12, 4},           // 1.0.0.0.10: hyphtj, spphtj, xftdcx, yyzhtj
    {13, 2},           // 1.0.0.0.11: bjqy
    {19, 1}, {19, 2},  // 1.0.0.0.17: xfid, constraint pkid
    {30, 2},           // 1.0.0.0.28: drop constraint Pkid
};

TEST(StatementFailures, OnlyTheToleratedOnesLetTheirStepCommit) {
  const LadderRun full({});
  const auto fullRows = transactions(full.db.journal());
  ASSERT_EQ(fullRows.size(), 32u);

  size_t journalIndex = 0;  // of the statement in the full run's journal
  size_t toleratedSeen = 0;
  for (size_t row = 1; row <= 32; ++row) {
    const auto& step = ladderSteps()[row - 1];
    const auto body = bodyOf(fullRows[row - 1]);
    journalIndex += 2;  // begin and version read
    for (size_t s = 1; s <= body.size(); ++s, ++journalIndex) {
      SCOPED_TRACE("row " + std::to_string(row) + " statement " + std::to_string(s));
      const LadderRun run({.failOn = {body[s - 1].text}});
      const auto& journal = run.db.journal();

      // The statement itself is the first thing that failed, not an earlier one
      // that happens to contain the same text.
      const auto firstFailed = std::find_if(journal.begin(), journal.end(),
                                            [](const db::JournalEntry& e) { return e.failed; });
      ASSERT_NE(firstFailed, journal.end());
      EXPECT_EQ(static_cast<size_t>(firstFailed - journal.begin()), journalIndex);

      const auto rows = transactions(journal);
      ASSERT_GE(rows.size(), row);
      const auto& failedStep = rows[row - 1];
      if (kTolerated.count({row, s}) == 1) {
        ++toleratedSeen;
        EXPECT_EQ(failedStep.back().kind, Kind::Commit);
        EXPECT_EQ(run.db.version(), kLastVersion);
        EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::Upgraded);
      } else {
        EXPECT_EQ(failedStep.back().kind, Kind::Rollback);
        EXPECT_EQ(rows.size(), row);  // no later step began
        EXPECT_EQ(run.db.version(), step.precondition);
        EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::StepFailed);
        EXPECT_EQ(run.outcome.failedStep, (StepName{step.precondition, step.next}));
      }
    }
    journalIndex += 2;  // version update and commit
  }
  EXPECT_EQ(toleratedSeen, kTolerated.size());
}

TEST(StatementFailures, TheEnsureStepFailsWithItsOwnMessageAndKeepsItsVersion) {
  for (const char* failing : {"select * from xmlb", "Insert into xmlb", "update ver set ver1"}) {
    const LadderRun run({.version = "1.0.0.0.2", .failOn = {failing}});
    EXPECT_EQ(run.outcome.failedStep, (StepName{"1.0.0.0.2", "1.0.0.0.2"})) << failing;
    EXPECT_EQ(closingMessage(run.outcome).text, "向V1.0.0.0.2升级时失败！") << failing;
    EXPECT_EQ(run.db.version(), "1.0.0.0.2");
    EXPECT_EQ(run.db.xmlbRows(), 0);
    EXPECT_EQ(transactions(run.db.journal()).size(), 3u);
  }
}

}  // namespace
}  // namespace upgrade::ladder
