// The real ladder run over the simulated database, and its journal cut into the
// transactions of the ladder rows: what the ladder's tests look at, and what the wire
// tests expect the pretend server to receive.
#pragma once

#include <string>
#include <vector>

#include "ladder.h"
#include "simulated_database.h"

namespace upgrade::testing {

// One whole run on a connection of its own, noting into log.
struct LadderRun {
  explicit LadderRun(db::SimulatedDatabase::Options options,
                     ladder::RunLog& log = ladder::noRunLog())
      : db(std::move(options)) {
    db.open({}, std::chrono::seconds(1));
    ladder::StepQuery query(db);
    outcome = ladder::runLadder(db, query, log);
  }
  db::SimulatedDatabase db;
  ladder::RunOutcome outcome;
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

}  // namespace upgrade::testing
