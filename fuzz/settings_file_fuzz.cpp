// The settings file, whatever bytes a venue's machine left in it. The input is the
// file, optionally followed by "\0section\0key\0value": one write to make. A file
// that starts with FE FE stands for a UTF-16 LE file with its byte order mark whose
// text is the rest, read as UTF-8, so that the fuzzer can shape UTF-16 files line by
// line; one that starts with FF FE is such a file byte for byte.
//  - every value read is valid UTF-8 of at most 2047 characters;
//  - the written key reads back as written: trimmed, without one pair of quotes,
//    cut at 2047 characters;
//  - every other key reads exactly as before, a GBK file does not turn into one
//    that reads as UTF-8, and a UTF-16 LE file stays UTF-16 LE with its byte order
//    mark;
//  - a refused write leaves the file byte-identical, and a UTF-16 BE file is never
//    written.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.h"
#include "fuzz_check.h"
#include "scratch_dir.h"
#include "settings_file.h"
#include "settings_rewrite.h"
#include "text_encoding.h"
#include "utf16.h"

namespace {

namespace fs = std::filesystem;
using upgrade::settings::SettingsFile;
namespace text = upgrade::text;

constexpr std::size_t kMostKeysChecked = 32;

// What reading a written value must give, worked out from the profile rules alone.
std::string expectedReading(std::string_view value) {
  value = text::trimmed(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(text::firstCharacters(value, SettingsFile::kMaxValueLength));
}

std::size_t characters(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return count;
}

// Section and key names as they may appear in the file, each in the two ways its
// bytes can be decoded, paired with the section above them.
std::vector<std::pair<std::string, std::string>> namesIn(std::string_view bytes) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> sections{""};
  while (!bytes.empty() && pairs.size() < kMostKeysChecked) {
    const std::size_t end = bytes.find('\n');
    const std::string_view line = text::trimmed(bytes.substr(0, end));
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    static const text::GbkToUtf8 gbk;
    const auto decodings = [](std::string_view raw) {
      return std::vector<std::string>{text::sanitiseUtf8(text::trimmed(raw)),
                                      gbk(text::trimmed(raw))};
    };
    if (line.starts_with('[') && line.find(']') != std::string_view::npos) {
      sections = decodings(line.substr(1, line.find(']') - 1));
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      for (const std::string& key : decodings(line.substr(0, equals))) {
        for (const std::string& section : sections) {
          pairs.emplace_back(section, key);
        }
      }
    }
  }
  return pairs;
}

bool isUtf16Le(std::string_view bytes) {
  return bytes.starts_with("\xFF\xFE");
}

// The text of a UTF-16 LE file (after its byte order mark) as UTF-8.
std::string utf16LeText(std::string_view bytes) {
  std::u16string units;
  for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                   static_cast<unsigned char>(bytes[at + 1]) << 8);
  }
  return upgrade::text::toUtf8(units);
}

// In memory where there is such a file system: every input writes the file.
const fs::path& workFile() {
  static const upgrade::testing::ScratchDir dir(
      "settings-fuzz", fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
  static const fs::path path = dir / "System.ini";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string section = "ServerIP";
  std::string key = "ServerIP1";
  std::string value = "srv";
  // The write, from the tail: the last three NUL-separated fields.
  std::vector<std::size_t> nuls;
  for (std::size_t at = input.size(); nuls.size() < 3 && at > 0; --at) {
    if (input[at - 1] == '\0') {
      nuls.push_back(at - 1);
    }
  }
  if (nuls.size() == 3) {
    value = input.substr(nuls[0] + 1);
    key = input.substr(nuls[1] + 1, nuls[0] - nuls[1] - 1);
    section = input.substr(nuls[2] + 1, nuls[1] - nuls[2] - 1);
    input.resize(nuls[2]);
  }

  if (input.starts_with("\xFE\xFE")) {
    input = upgrade::settings::detail::utf16LeBytes(
        text::sanitiseUtf8(std::string_view(input).substr(2)));
  }

  const fs::path& path = workFile();
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << input; }
  SettingsFile settings(path);

  auto pairs = namesIn(isUtf16Le(input) ? utf16LeText(input) : input);
  pairs.emplace_back(section, key);
  std::vector<std::string> before;
  for (const auto& [s, k] : pairs) {
    before.push_back(settings.readString(s, k, "\x01missing"));
    const std::string& read = before.back();
    FUZZ_CHECK(text::isValidUtf8(read), "[" + s + "] " + k + " read " + fuzzing::escaped(read));
    FUZZ_CHECK(characters(read) <= SettingsFile::kMaxValueLength, "a value over 2047 characters");
  }

  bool refused = false;
  try {
    settings.writeString(section, key, value);
  } catch (const std::invalid_argument&) {
    refused = true;
  } catch (const upgrade::settings::SettingsWriteError&) {
    refused = true;
  }
  const std::string after = upgrade::testing::readFile(path);
  const std::string what = "writing [" + fuzzing::escaped(section) + "] " + fuzzing::escaped(key) +
                           "=" + fuzzing::escaped(value) + " into " + fuzzing::escaped(input);

  if (refused) {
    FUZZ_CHECK(after == input, "a refused write changed the file: " + what);
    return 0;
  }
  FUZZ_CHECK(!input.starts_with("\xFE\xFF"), "a UTF-16 BE file was written: " + what);
  FUZZ_CHECK(!isUtf16Le(input) || (isUtf16Le(after) && after.size() % 2 == 0),
             "a UTF-16 LE file was not written in UTF-16 LE: " + what);
  const std::string readBack = settings.readString(section, key, "\x01missing");
  FUZZ_CHECK(readBack == expectedReading(value),
             what + " reads back " + fuzzing::escaped(readBack));
  const bool wasGbk =
      !text::isValidUtf8(input) && !input.starts_with("\xEF\xBB\xBF") && !isUtf16Le(input);
  FUZZ_CHECK(!wasGbk || text::isAscii(after) || !text::isValidUtf8(after),
             what + " left a GBK file that reads as UTF-8");
  for (std::size_t i = 0; i + 1 < pairs.size(); ++i) {
    const auto& [s, k] = pairs[i];
    if (upgrade::text::equalsIgnoringAsciiCase(s, section) &&
        upgrade::text::equalsIgnoringAsciiCase(k, key)) {
      continue;
    }
    const std::string now = settings.readString(s, k, "\x01missing");
    FUZZ_CHECK(now == before[i], what + " changed [" + fuzzing::escaped(s) + "] " +
                                     fuzzing::escaped(k) + " from " + fuzzing::escaped(before[i]) +
                                     " to " + fuzzing::escaped(now));
  }
  return 0;
}
