#include "run_log_file.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "run_log_file_platform.h"
#include "safe_line.h"
#include "settings_file.h"

namespace upgrade::app {
namespace {

namespace fs = std::filesystem;

// Runs that rotate while this one waits send it back to the new file; each
// rotation needs a full log, so a few rounds are plenty.
constexpr int kRounds = 16;
// Another run holds the lock for one append. Anyone who can read the log can take
// the lock too, so the wait is bounded: two seconds by the clock (a pause can last
// a whole timer tick on Windows, so a count of pauses is no bound), after which this
// run writes no more lines rather than wait that long for each.
constexpr std::chrono::seconds kLockWait{2};
constexpr std::chrono::milliseconds kLockPause{1};

std::string twoDigits(unsigned value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
         static_cast<char>('0' + value % 10);
}

bool lock(detail::LogFile& file) noexcept {
  const auto giveUp = std::chrono::steady_clock::now() + kLockWait;
  while (!file.tryLock()) {
    if (std::chrono::steady_clock::now() >= giveUp) {
      return false;
    }
    std::this_thread::sleep_for(kLockPause);
  }
  return true;
}

}  // namespace

RunLogFile::RunLogFile(fs::path path, std::uintmax_t limit, Clock clock)
    : path_(std::move(path)), limit_(limit), clock_(std::move(clock)) {}

fs::path RunLogFile::previousPath() const {
  fs::path previous = path_;
  previous += ".1";
  return previous;
}

void RunLogFile::note(std::string_view event) noexcept {
  if (stopped_) {
    return;
  }
  try {
    append(logTimestamp(clock_()) + " " + text::safeLine(text::masked(event, secrets_)) + "\n");
  } catch (...) {
    // A log that cannot be written never changes the run.
  }
}

void RunLogFile::keepSecret(std::string_view secret) noexcept {
  try {
    if (!secret.empty() && std::find(secrets_.begin(), secrets_.end(), secret) == secrets_.end()) {
      secrets_.emplace_back(secret);
    }
  } catch (...) {
    // Without memory for the secret, nothing more may be written.
    secrets_.clear();
    stopped_ = true;
  }
}

void RunLogFile::append(std::string_view line) {
  for (int round = 0; round < kRounds; ++round) {
    std::optional<detail::LogFile> file = detail::LogFile::open(path_);
    if (!file) {
      return;
    }
    if (!lock(*file)) {
      stopped_ = true;
      return;
    }
    if (!file->isAt(path_)) {
      continue;  // rotated away by another run: its successor is next
    }
    const std::optional<std::uintmax_t> size = file->size();
    if (!size) {
      return;
    }
    if (*size > 0 && *size + line.size() > limit_) {
      if (file->rotate(path_, previousPath())) {
        continue;  // the lock on the old file goes with it; a new file is next
      }
      if (*size + line.size() > hardLimit()) {
        return;
      }
    }
    file->append(line);
    return;
  }
}

fs::path runLogPathFor(const fs::path& settingsPath) {
  fs::path logBeside = settings::settingsLinkTarget(settingsPath);
  if (logBeside.empty()) {
    logBeside = settingsPath;
  }
  return logBeside.replace_filename(kRunLogFileName);
}

std::string logTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  const auto millis = static_cast<unsigned>(clock.subseconds().count());
  return std::to_string(static_cast<int>(date.year())) + "-" +
         twoDigits(static_cast<unsigned>(date.month())) + "-" +
         twoDigits(static_cast<unsigned>(date.day())) + " " +
         twoDigits(static_cast<unsigned>(clock.hours().count())) + ":" +
         twoDigits(static_cast<unsigned>(clock.minutes().count())) + ":" +
         twoDigits(static_cast<unsigned>(clock.seconds().count())) + "." +
         std::to_string(millis / 100) + twoDigits(millis % 100) + "Z";
}

}  // namespace upgrade::app
