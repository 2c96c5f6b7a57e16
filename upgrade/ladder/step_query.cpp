#include "step_query.h"

#include <algorithm>
#include <climits>

#include "ascii.h"
#include "sql_parameters.h"

namespace upgrade::ladder {
void StepQuery::clear() {
  lines_.clear();
  textChanged();
}

void StepQuery::setText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    const size_t br = text.find_first_of("\r\n", start);
    if (br == std::string_view::npos) {
      lines_.emplace_back(text.substr(start));
      break;
    }
    lines_.emplace_back(text.substr(start, br - start));
    start = br + 1;
    if (text[br] == '\r' && start < text.size() && text[start] == '\n') {
      ++start;
    }
  }
  textChanged();
}

void StepQuery::addLine(std::string_view line) {
  // A line that itself holds breaks becomes several lines, as it would in the
  // original string list once its text was read back.
  std::string text = readText();
  text += line;
  setText(text);
}

std::string StepQuery::readText() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void StepQuery::execute() {
  // Changing the text of an open query is an error for a statement component; a plain
  // statement always closes first, so an open result here is simply dropped.
  result_.reset();
  db_->execute(readText(), boundParameters());
}

void StepQuery::open() {
  result_.reset();
  result_ = db_->query(readText(), boundParameters());
}

std::string StepQuery::fieldAsText(std::string_view column) const {
  if (!result_) {
    throw db::DatabaseError("the step query is not open");
  }
  const auto& cols = result_->columns;
  const auto it = std::find_if(cols.begin(), cols.end(), [&](const std::string& c) {
    return text::equalsIgnoringAsciiCase(c, column);
  });
  if (it == cols.end()) {
    throw db::DatabaseError("field '" + std::string(column) + "' not found");
  }
  if (result_->values.empty()) {
    return {};
  }
  const auto& row = result_->values.front();
  const auto index = static_cast<size_t>(it - cols.begin());
  return index < row.size() ? row[index] : std::string{};
}

int StepQuery::rowCount() const {
  if (!result_) {
    throw db::DatabaseError("the step query is not open");
  }
  const size_t count = result_->values.size() + result_->unlistedRows;
  return static_cast<int>(std::min<size_t>(count, INT_MAX));
}

void StepQuery::setParameter(std::string_view name, db::ParamValue value) {
  for (auto& [paramName, paramValue] : params_) {
    if (text::equalsIgnoringAsciiCase(paramName, name)) {
      paramValue = std::move(value);
      return;
    }
  }
  throw db::DatabaseError("parameter '" + std::string(name) + "' not found");
}

void StepQuery::textChanged() {
  params_.clear();
  for (auto& name : db::parameterNames(readText())) {
    params_.emplace_back(std::move(name), std::nullopt);
  }
}

db::Params StepQuery::boundParameters() const {
  db::Params bound;
  for (const auto& [name, value] : params_) {
    if (!value) {
      throw db::DatabaseError("parameter '" + name + "' has no value");
    }
    bound.push_back(db::Param{name, *value});
  }
  return bound;
}

}  // namespace upgrade::ladder
