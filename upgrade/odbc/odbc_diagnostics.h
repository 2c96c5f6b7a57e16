// What a failed ODBC call means, from the diagnostic records the driver left: the
// message the operator and the log see, who gave up, and the SQLSTATE. Kept apart
// from the ODBC calls that read the records, so that it needs no driver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace upgrade::odbc::detail {

struct DiagnosticRecord {
  std::string state;    // the SQLSTATE, five characters
  std::string message;  // as the driver worded it ("[FreeTDS][SQL Server]...")
};

// The error that records describe: each message once, one per line, in the
// driver's order (some drivers repeat a record); the kind and SQLSTATE of the record
// that says most about whether the request can have run. Records without a message
// say that action failed without a diagnostic.
[[nodiscard]] db::DatabaseError failureFrom(const std::vector<DiagnosticRecord>& records,
                                            std::string_view action);

}  // namespace upgrade::odbc::detail
