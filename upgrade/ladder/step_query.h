// The step query: the one statement object through which the version read, every
// step statement and the version update run. It keeps its statement text as lines,
// as a line-list statement component does, because the continued statements rely on
// reading the text back with a line break after every line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace upgrade::ladder {

class StepQuery {
 public:
  explicit StepQuery(db::Database& db) : db_(&db) {}

  void close() noexcept { result_.reset(); }
  void clear();
  // The text is split into lines at CR LF, LF or CR; a final line break adds no
  // empty line.
  void setText(std::string_view text);
  void addLine(std::string_view line);
  // Every line followed by CR LF, the last one included.
  [[nodiscard]] std::string readText() const;

  // Sends readText() as one command; no rows are expected.
  void execute();
  // Sends readText() as a query and keeps its rows; the first row is current.
  void open();
  [[nodiscard]] bool isOpen() const noexcept { return result_.has_value(); }
  // The named column (case-insensitive) of the current row. Throws DatabaseError
  // when no query is open or the column does not exist; an empty result reads as
  // the empty text, like a NULL.
  [[nodiscard]] std::string fieldAsText(std::string_view column) const;
  [[nodiscard]] int rowCount() const;

  // Gives the named parameter of the current text its value. Throws DatabaseError
  // when the text has no such parameter.
  void setParameter(std::string_view name, db::ParamValue value);

  [[nodiscard]] db::Database& database() const noexcept { return *db_; }

 private:
  void textChanged();
  [[nodiscard]] db::Params boundParameters() const;

  db::Database* db_;
  std::vector<std::string> lines_;
  // Parameters are recognised anew whenever the text changes; a value set before
  // the change is forgotten.
  std::vector<std::pair<std::string, std::optional<db::ParamValue>>> params_;
  std::optional<db::Rows> result_;
};

}  // namespace upgrade::ladder
