// A stand-in for a front end's run control and for the run log: what a run showed
// and asked for, in order, and what it noted. Tests add their own fakes' events to
// the same list, so that one list tells the whole story.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "run_control.h"
#include "run_log.h"

namespace upgrade::testing {

class RecordingRun final : public run::RunControl, public ladder::RunLog {
 public:
  // "busy" and "normal" for the pointer, "message <text>" for a message box, "end".
  void showBusyPointer() noexcept override { pointer("busy", true); }
  void restorePointer() noexcept override { pointer("normal", false); }
  void showMessage(std::string_view title, std::string_view text) noexcept override {
    events.push_back("message " + std::string(text) + (messagesNotePointer ? pointerNote() : ""));
    titles.emplace_back(title);
  }
  void endRun() noexcept override { events.emplace_back("end"); }
  void note(std::string_view event) noexcept override { notes.emplace_back(event); }

  // " (busy)" or " (normal)": the pointer now, for events that must say under which
  // pointer they happened.
  [[nodiscard]] std::string pointerNote() const { return busy ? " (busy)" : " (normal)"; }
  // The events without the pointer's: what the operator was shown, and the end.
  [[nodiscard]] std::vector<std::string> seen() const {
    std::vector<std::string> shown;
    std::copy_if(events.begin(), events.end(), std::back_inserter(shown),
                 [](const std::string& event) { return event != "busy" && event != "normal"; });
    return shown;
  }
  [[nodiscard]] long count(std::string_view event) const {
    return std::count(events.begin(), events.end(), event);
  }
  [[nodiscard]] bool has(std::string_view event) const { return count(event) > 0; }

  std::vector<std::string> events;
  std::vector<std::string> titles;  // of the message boxes, in order
  std::vector<std::string> notes;   // the run log
  bool busy = false;
  // Messages say under which pointer they were shown: "message <text> (normal)".
  bool messagesNotePointer = false;

 private:
  void pointer(const char* event, bool nowBusy) noexcept {
    events.emplace_back(event);
    busy = nowBusy;
  }
};

}  // namespace upgrade::testing
