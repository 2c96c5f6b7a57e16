#include "recording_run.h"

#include <algorithm>
#include <iterator>

namespace upgrade::testing {

void RecordingRun::showBusyPointer() noexcept {
  events.emplace_back("busy");
  busy = true;
}

void RecordingRun::restorePointer() noexcept {
  events.emplace_back("normal");
  busy = false;
}

void RecordingRun::showMessage(std::string_view title, std::string_view text) noexcept {
  events.push_back("message " + std::string(text) + (messagesNotePointer ? pointerNote() : ""));
  titles.emplace_back(title);
}

void RecordingRun::endRun() noexcept {
  events.emplace_back("end");
}

void RecordingRun::note(std::string_view event) noexcept {
  notes.emplace_back(event);
}

std::string RecordingRun::pointerNote() const {
  return busy ? " (busy)" : " (normal)";
}

std::vector<std::string> RecordingRun::seen() const {
  std::vector<std::string> shown;
  std::copy_if(events.begin(), events.end(), std::back_inserter(shown),
               [](const std::string& event) { return event != "busy" && event != "normal"; });
  return shown;
}

long RecordingRun::count(std::string_view event) const {
  return std::count(events.begin(), events.end(), event);
}

}  // namespace upgrade::testing
