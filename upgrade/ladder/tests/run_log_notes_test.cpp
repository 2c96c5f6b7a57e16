// What the ladder notes in the run log, over the simulated database: each step that
// runs with its outcome, the failing statement's first line and the server's
// message, each tolerated failure; nothing for a step that is skipped.
#include <gtest/gtest.h>

#include "ladder_journal.h"
#include "recording_run.h"

namespace upgrade::ladder {
namespace {

std::vector<std::string> loggedRun(db::SimulatedDatabase::Options options) {
  testing::RecordingRun log;
  const testing::LadderRun run(std::move(options), log);
  return log.notes;
}

TEST(RunLogNotes, StepsThatRunFailuresAndToleratedFailures) {
  const auto full = loggedRun({});
  ASSERT_EQ(full.size(), 32U);
  EXPECT_EQ(full.front(), "step 1.0.0.0.0 -> 1.0.0.0.1: committed");
  EXPECT_EQ(full[2], "step 1.0.0.0.2 -> 1.0.0.0.2: committed") << "the ensure step runs too";
  EXPECT_EQ(full.back(), "step 1.0.0.0.30 -> 1.0.0.0.31: committed");

  EXPECT_EQ(loggedRun({.version = "1.0.0.0.29"}),
            (std::vector<std::string>{"step 1.0.0.0.29 -> 1.0.0.0.30: committed",
                                      "step 1.0.0.0.30 -> 1.0.0.0.31: committed"}))
      << "skipped steps are not noted";

  // A statement of several lines is named by its first.
  const auto failed = loggedRun({.version = "1.0.0.0.29", .failOn = {"skr varchar"}});
  ASSERT_EQ(failed.size(), 2U);
  EXPECT_TRUE(failed[0].starts_with(
      "step 1.0.0.0.29 -> 1.0.0.0.30: failed at \"Create table Card_Tcmx(Cardid int"))
      << failed[0];
  EXPECT_TRUE(failed[0].ends_with("skrj datetime \": simulated: statement failed")) << failed[0];
  EXPECT_EQ(failed[1], "step 1.0.0.0.29 -> 1.0.0.0.30: rolled back");

  EXPECT_EQ(loggedRun({.version = "1.0.0.0.30", .failOn = {"ALTER Table hy add cscs"}}).front(),
            "step 1.0.0.0.30 -> 1.0.0.0.31: failed at \"ALTER Table hy add cscs  int\": "
            "simulated: statement failed");

  const auto tolerated = loggedRun({.version = "1.0.0.0.28", .failOn = {"DROP constraint  Pkid"}});
  EXPECT_EQ(tolerated, (std::vector<std::string>{
                           "tolerated: ALTER TABLE lbxf  DROP constraint  Pkid: simulated: "
                           "statement failed",
                           "step 1.0.0.0.28 -> 1.0.0.0.29: committed",
                           "step 1.0.0.0.29 -> 1.0.0.0.30: committed",
                           "step 1.0.0.0.30 -> 1.0.0.0.31: committed"}));

  EXPECT_EQ(loggedRun({.failCommit = true, .failRollback = true}),
            (std::vector<std::string>{
                "step 1.0.0.0.0 -> 1.0.0.0.1: failed at commit: simulated: commit failed",
                "step 1.0.0.0.0 -> 1.0.0.0.1: rollback failed: simulated: rollback failed, "
                "connection lost"}));
}

}  // namespace
}  // namespace upgrade::ladder
