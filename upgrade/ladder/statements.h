// The statement forms in which every upgrade step is written. A step body is a
// list of calls on Body, one per statement, so that it reads like the list of
// statements it sends.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "run_log.h"
#include "step_query.h"

namespace upgrade::ladder {

// A text value as a literal: wrapped in single quotes, inner single quotes doubled.
std::string quoted(std::string_view value);

class Body {
 public:
  explicit Body(StepQuery& query, RunLog& log = noRunLog()) : query_(&query), log_(&log) {}

  // close, clear, set text, execute.
  void plain(std::string_view text);

  // Set the text to the first piece, read it back (now ending in CR LF), append
  // the next piece, set the text to the result, and so on; then execute. The
  // command sent carries CR LF between the pieces and at its end.
  void continued(std::initializer_list<std::string_view> pieces);

  // A plain statement whose failure is dropped when the server refused it. If the
  // server ended the step's transaction while failing it, the step must not go on
  // outside the transaction, so that case still fails the step; so does a time-out
  // or a lost connection, after which the statement's fate is unknown. A failure
  // that is dropped is still noted in the log, with the server's message.
  void tolerant(std::string_view text);

  // close, clear, add the line, set the named parameter, execute.
  void bound(std::string_view text, std::string_view name, db::ParamValue value);

  // For the one step that reads something back.
  [[nodiscard]] StepQuery& query() const noexcept { return *query_; }

 private:
  StepQuery* query_;
  RunLog* log_;
};

// The version read: the ver1 value of the first row of "select * from ver", or the
// empty text when there is no row.
std::string readVersion(StepQuery& query);

// The version update: "update ver set ver1=:a1" with a1 bound to the version text.
void writeVersion(StepQuery& query, std::string_view version);

}  // namespace upgrade::ladder
