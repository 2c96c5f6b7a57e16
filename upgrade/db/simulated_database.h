// An in-memory stand-in for the suite's SQL Server database. It keeps only what
// the ladder protocol can observe (the version record, whether the ensure step's
// category row exists, the transaction) and a journal of every operation in the
// order it was sent. It backs the preview tool and the ladder tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace upgrade::db {

struct JournalEntry {
  enum class Kind { Begin, Commit, Rollback, Open, Execute };
  Kind kind;
  std::string text;  // exactly as sent; empty for begin, commit and rollback
  Params params;
  bool failed = false;
};

class SimulatedDatabase final : public Database {
 public:
  struct Options {
    // The committed ver1 value; nullopt is a ver table without rows.
    std::optional<std::string> version = "1.0.0.0.0";
    // Rows that the ensure step's query on xmlb finds.
    int xmlbRows = 0;
    // Every open or execute whose text contains one of these fails.
    std::vector<std::string> failOn;
    // Like failOn, but the server also ends the open transaction, as SQL Server does
    // for a deadlock victim.
    std::vector<std::string> abortTransactionOn;
    // Like failOn, but the client gave up waiting: the statement's fate is unknown.
    std::vector<std::string> timeOutOn;
    bool failOpen = false;
    bool failCommit = false;
    bool failRollback = false;
  };

  SimulatedDatabase() : SimulatedDatabase(Options{}) {}
  explicit SimulatedDatabase(Options options);

  void open(const ConnectionTarget& target, std::chrono::seconds loginTimeout) override;
  void close() noexcept override { open_ = false; }
  [[nodiscard]] bool isOpen() const noexcept override { return open_; }
  void begin() override;
  void commit() override;
  void rollback() override;
  [[nodiscard]] bool transactionActive() override;
  void execute(const std::string& text, const Params& params) override;
  Rows query(const std::string& text, const Params& params) override;

  [[nodiscard]] const std::vector<JournalEntry>& journal() const noexcept { return journal_; }
  // The committed version (what a later run would read).
  [[nodiscard]] const std::optional<std::string>& version() const noexcept { return version_; }
  [[nodiscard]] int xmlbRows() const noexcept { return xmlbRows_; }

 private:
  void failIfAsked(JournalEntry& entry);

  Options options_;
  bool open_ = false;
  bool inTransaction_ = false;
  std::optional<std::string> version_;
  std::optional<std::string> pendingVersion_;
  int xmlbRows_ = 0;
  int pendingXmlbRows_ = 0;
  std::vector<JournalEntry> journal_;
};

// One JSON object per journal entry, as the preview tool prints it.
std::string toJsonLine(const JournalEntry& entry);
// A JSON string literal; the text is UTF-8 and is kept as it is but for escapes.
std::string jsonString(std::string_view text);

}  // namespace upgrade::db
