#include "run_log_file.h"

#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

namespace upgrade {
namespace {

std::string twoDigits(unsigned value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
         static_cast<char>('0' + value % 10);
}

}  // namespace

RunLogFile::RunLogFile(std::filesystem::path path, std::uintmax_t limit, Clock clock)
    : path_(std::move(path)), limit_(limit), clock_(std::move(clock)) {}

std::filesystem::path RunLogFile::previousPath() const {
  std::filesystem::path previous = path_;
  previous += ".1";
  return previous;
}

void RunLogFile::note(std::string_view event) noexcept {
  try {
    append(logTimestamp(clock_()) + " " + oneLine(event) + "\n");
  } catch (...) {
    // A log that cannot be written never changes the run.
  }
}

void RunLogFile::append(const std::string& line) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  if (!error && size > 0 && size + line.size() > limit_) {
    const std::filesystem::path previous = previousPath();
    // Removed first: renaming onto an existing file fails on some systems.
    std::filesystem::remove(previous, error);
    std::filesystem::rename(path_, previous, error);
  }
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
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

std::string oneLine(std::string_view event) {
  std::string out;
  out.reserve(event.size());
  for (size_t i = 0; i < event.size(); ++i) {
    const char c = event[i];
    if (c == '\r' || c == '\n') {
      // CR LF is one break; so are several in a row.
      while (i + 1 < event.size() && (event[i + 1] == '\r' || event[i + 1] == '\n')) {
        ++i;
      }
      if (!out.empty() && i + 1 < event.size()) {
        out += " / ";
      }
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace upgrade
