// Running the real ladder over the simulated database and cutting its journal
// into the transactions of the ladder rows, for the tests of the step bodies.
#pragma once

#include <string>
#include <vector>

#include "ladder.h"
#include "simulated_database.h"

namespace upgrade::ladder::testing {

struct LadderRun {
  explicit LadderRun(db::SimulatedDatabase::Options options) : db(std::move(options)) {
    db.open({}, std::chrono::seconds(1));
    StepQuery query(db);
    outcome = runLadder(db, query);
  }
  db::SimulatedDatabase db;
  RunOutcome outcome;
};

using Transaction = std::vector<db::JournalEntry>;

// One entry per ladder row that began, from its begin to its commit or rollback.
inline std::vector<Transaction> transactions(const std::vector<db::JournalEntry>& journal) {
  std::vector<Transaction> out;
  for (const auto& entry : journal) {
    if (entry.kind == db::JournalEntry::Kind::Begin) {
      out.emplace_back();
    }
    if (!out.empty()) {
      out.back().push_back(entry);
    }
  }
  return out;
}

// What an applied step sent between its version read and its version update.
inline Transaction bodyOf(const Transaction& applied) {
  if (applied.size() < 5) {  // begin, read, update, commit: nothing in between
    return {};
  }
  return {applied.begin() + 2, applied.end() - 2};
}

}  // namespace upgrade::ladder::testing
