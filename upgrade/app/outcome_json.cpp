#include "outcome_json.h"

#include <nlohmann/json.hpp>

namespace upgrade::app {
namespace {

using Kind = ladder::RunOutcome::Kind;
// Keys in the order people read them.
using json = nlohmann::ordered_json;

const char* outcomeName(Kind kind) {
  switch (kind) {
    case Kind::Upgraded:
      return "upgraded";
    case Kind::StepFailed:
      return "step-failed";
    case Kind::UpToDate:
      return "up-to-date";
    case Kind::Pending:
      return "pending";
    case Kind::NoStepMatches:
      return "matches-no-step";
    case Kind::ConnectionFailed:
      break;
  }
  return "connection-failed";
}

json stepJson(const ladder::StepName& step) {
  return {{"from", step.precondition}, {"to", step.next}};
}

json textOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

}  // namespace

std::string outcomeJson(const std::optional<ladder::RunOutcome>& outcome,
                        std::chrono::milliseconds elapsed) {
  json out = {{"server", nullptr},    {"database", nullptr},    {"version", nullptr},
              {"outcome", nullptr},   {"steps", json::array()}, {"failed_step", nullptr},
              {"statement", nullptr}, {"reason", nullptr},      {"elapsed_ms", elapsed.count()}};
  if (outcome) {
    if (outcome->target) {
      out["server"] = outcome->target->server;
      out["database"] = outcome->target->database;
    }
    if (outcome->versionFound) {
      out["version"] = *outcome->versionFound;
    }
    out["outcome"] = outcomeName(outcome->kind);
    const auto& steps = outcome->kind == Kind::Pending ? outcome->pending : outcome->applied;
    for (const auto& step : steps) {
      out["steps"].push_back(stepJson(step));
    }
    if (outcome->kind == Kind::StepFailed) {
      out["failed_step"] = stepJson(outcome->failedStep);
      out["statement"] = textOrNull(outcome->failedStatement.empty() ? outcome->failedAt
                                                                     : outcome->failedStatement);
    }
    out["reason"] = textOrNull(outcome->reason);
  }
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace upgrade::app
