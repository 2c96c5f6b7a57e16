#include "odbc_diagnostics.h"

#include <algorithm>

namespace upgrade::odbc::detail {
namespace {

using Kind = db::DatabaseError::Kind;

// Who gave up, from the SQLSTATE of a diagnostic record. Drivers report their own
// failures in the HY and IM classes; time-outs and cancels are HYT00, HYT01 and
// HY008, class 08 is the connection, and class 01 holds warnings, never a refusal.
// What is left came from the server.
Kind kindOf(std::string_view state) {
  if (state.starts_with("08")) {
    return Kind::Communication;
  }
  if (state == "HYT00" || state == "HYT01" || state == "HY008") {
    return Kind::Timeout;
  }
  if (state.size() != 5 || state.starts_with("HY") || state.starts_with("IM") ||
      state.starts_with("01")) {
    return Kind::Client;
  }
  return Kind::Server;
}

// Of several records, the one that says most about whether the request can have run:
// a lost connection or a time-out outweighs a server error that came before it, and
// any error outweighs a warning.
int weightOf(std::string_view state) {
  switch (kindOf(state)) {
    case Kind::Communication:
      return 4;
    case Kind::Timeout:
      return 3;
    case Kind::Server:
      return 2;
    case Kind::Client:
      break;
  }
  return state.starts_with("01") ? 0 : 1;
}

}  // namespace

db::DatabaseError failureFrom(const std::vector<DiagnosticRecord>& records,
                              std::string_view action) {
  const DiagnosticRecord* weightiest = nullptr;
  std::vector<std::string_view> lines;
  std::string message;
  for (const DiagnosticRecord& record : records) {
    if (weightiest == nullptr || weightOf(record.state) > weightOf(weightiest->state)) {
      weightiest = &record;
    }
    // Only a record that says exactly the same again is left out: one message can
    // well be part of another and still say something of its own.
    if (record.message.empty() ||
        std::find(lines.begin(), lines.end(), record.message) != lines.end()) {
      continue;
    }
    lines.push_back(record.message);
    if (!message.empty()) {
      message += '\n';
    }
    message += record.message;
  }
  if (message.empty()) {
    message = std::string(action) + " failed without a diagnostic from the driver";
  }
  if (weightiest == nullptr) {
    return db::DatabaseError(message);
  }
  return db::DatabaseError(message, kindOf(weightiest->state), weightiest->state);
}

}  // namespace upgrade::odbc::detail
