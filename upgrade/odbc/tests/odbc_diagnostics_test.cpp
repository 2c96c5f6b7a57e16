// What a failed ODBC call reports, from the diagnostic records a driver left: the
// message of every record, the kind of failure and its SQLSTATE.
#include <gtest/gtest.h>

#include "odbc_diagnostics.h"

namespace upgrade::odbc::detail {
namespace {

using Kind = db::DatabaseError::Kind;
using Records = std::vector<DiagnosticRecord>;

TEST(OdbcDiagnostics, EveryMessageIsKeptOnceEvenWhenItIsPartOfAnother) {
  const struct {
    Records records;
    std::string message;
  } cases[] = {
      {{{"28000", "[d]Login failed for user 'sa'. Reason: password mismatch."},
        {"28000", "[d]Login failed for user 'sa'."}},
       "[d]Login failed for user 'sa'. Reason: password mismatch.\n"
       "[d]Login failed for user 'sa'."},
      {{{"01000", "[d]Timeout expired"}, {"HYT00", "[d]Timeout"}},
       "[d]Timeout expired\n[d]Timeout"},
      {{{"HY000", "[d]General error"}, {"HY000", ""}, {"HY000", "[d]General error"}},
       "[d]General error"},
      {{{"HY000", ""}}, "Connecting failed without a diagnostic from the driver"},
      {{}, "Connecting failed without a diagnostic from the driver"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureFrom(c.records, "Connecting").what(), c.message);
  }
}

TEST(OdbcDiagnostics, TheWeightiestRecordGivesTheKindAndTheSqlState) {
  const struct {
    Records records;
    Kind kind;
    std::string_view state;
  } cases[] = {
      {{}, Kind::Client, ""},
      // An error outweighs a warning before it.
      {{{"01000", "[d]Can't open lib 'x'"}, {"IM002", "[d]Data source name not found"}},
       Kind::Client,
       "IM002"},
      {{{"42S22", "[d]Invalid column name 'a'."}, {"42000", "[d]Could not be prepared."}},
       Kind::Server,
       "42S22"},
      // A lost connection or a time-out outweighs the server's refusal before it.
      {{{"42S22", "[d]Invalid column name 'a'."}, {"HYT00", "[d]Timeout expired"}},
       Kind::Timeout,
       "HYT00"},
      {{{"HY008", "[d]Operation was cancelled"}, {"08S01", "[d]Communication link failure"}},
       Kind::Communication,
       "08S01"},
  };
  for (const auto& c : cases) {
    const db::DatabaseError error = failureFrom(c.records, "Connecting");
    EXPECT_EQ(error.kind(), c.kind) << error.what();
    EXPECT_EQ(error.sqlState(), c.state) << error.what();
  }
}

}  // namespace
}  // namespace upgrade::odbc::detail
