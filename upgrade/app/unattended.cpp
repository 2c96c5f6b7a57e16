#include "unattended.h"

#include <chrono>

#include "outcome_json.h"
#include "safe_line.h"
#include "transcript.h"

namespace upgrade::app {
namespace {

void write(std::FILE* file, const std::string& text) noexcept {
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

}  // namespace

std::unique_ptr<run::ServerDialogView> UnattendedFrontEnd::createServerDialogView(
    run::ServerDialogEvents&) {
  return std::make_unique<ClosedDialogView>();
}

void UnattendedFrontEnd::showMessage(std::string_view, std::string_view text) noexcept {
  if (out_ == nullptr) {
    return;
  }
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

int runUnattended(ProgramParts parts, const CommandLine& command, std::FILE* out,
                  std::FILE* err) noexcept {
  const auto started = std::chrono::steady_clock::now();
  // The closing message is the output of a plain unattended run only.
  UnattendedFrontEnd frontEnd(command.status || command.json ? nullptr : out);
  parts.dialogServices.listServers = nullptr;
  parts.formOptions.statusOnly = command.status;
  const std::optional<ladder::RunOutcome> outcome = performUpdate(frontEnd, parts);
  const int status = ladder::exitStatus(outcome);
  try {
    if (command.json) {
      write(out, outcomeJson(outcome, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - started)) +
                     "\n");
    } else if (command.status) {
      write(out, (outcome ? ladder::statusLine(*outcome) : "no outcome") + "\n");
    }
    if (command.status && command.statements && outcome && outcome->versionFound) {
      write(out, ladder::ladderTranscript({.version = *outcome->versionFound}));
    }
    const bool saysWhy = command.status || command.json || command.settings;
    const bool failed = outcome && (outcome->kind == ladder::RunOutcome::Kind::ConnectionFailed ||
                                    outcome->kind == ladder::RunOutcome::Kind::StepFailed);
    if (saysWhy && failed && !outcome->reason.empty()) {
      write(err, "Update: " + text::safeLine(outcome->reason) + "\n");
    }
  } catch (...) {
    // Out of memory: the exit status still says how the run ended.
  }
  return status;
}

}  // namespace upgrade::app
