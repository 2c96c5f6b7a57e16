// tagport-probe: a technician's look at the wristband reader. Lists the readers libusb
// sees, then calls tagport's read-only exports and prints each result with its meaning
// and the bytes returned. With --set-rtc it also sets the reader's clock.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "tagport.h"
#include "usb_api.h"
#include "usb_link.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoReader = 1;
constexpr int kExitUsage = 2;

// What a result means; which rows apply depends on whether the export runs the check
// that precedes tag operations, and codes of different rows can coincide.
std::string Meaning(std::int32_t code, bool tagOperation, bool limitInfo) {
  if (code == 0) {
    return "success";
  }
  if (code == 1) {
    return "no reader, or the first reader could not be opened";
  }
  if (!tagOperation) {
    return "unexpected result";
  }
  std::string text;
  const auto add = [&text](const std::string& part) {
    text += text.empty() ? part : ", or " + part;
  };
  if (limitInfo && code == 16) {
    add("not a limit card");
  }
  if (limitInfo && code == 32) {
    add("the second half could not be read");
  }
  if (code >= 2 && code <= 256) {
    add(code == 2 ? "check failed (status 1, or no answer)"
                  : "check refused with status " + std::to_string(code - 1));
  }
  if (code >= 3 && code <= 257) {
    add(code == 3 ? "operation failed (status 1, or no answer)"
                  : "operation refused with status " + std::to_string(code - 2));
  }
  return text.empty() ? "unexpected result" : text;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char cell[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += cell;
  }
  return out;
}

// The version as text, with anything unprintable shown as '.'.
std::string Printable(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
    out += std::isprint(bytes[i]) != 0 ? static_cast<char>(bytes[i]) : '.';
  }
  return out;
}

void Report(const char* name, std::int32_t code, const std::string& meaning,
            const std::string& bytes = {}) {
  std::printf("%-17s %3d  %s%s%s\n", name, code, meaning.c_str(), bytes.empty() ? "" : ": ",
              bytes.c_str());
}

void Tag(const char* name, std::int32_t (*call)(std::uint8_t*), bool limitInfo = false) {
  std::uint8_t tag[4] = {};
  const std::int32_t code = call(tag);
  std::string bytes;
  if (code == 0) {
    bytes = Hex(tag, sizeof tag);
  } else if (limitInfo && code == 32) {
    bytes = Hex(tag, 2) + " (first half only)";
  }
  Report(name, code, Meaning(code, true, limitInfo), bytes);
}

int ListReaders() {
  usb_init();
  usb_find_busses();
  usb_find_devices();
  int found = 0;
  std::printf("Readers (USB %04X:%04X), in the order tagport tries them:\n", tagport::kReaderVendor,
              tagport::kReaderProduct);
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (device->descriptor.idVendor == tagport::kReaderVendor &&
          device->descriptor.idProduct == tagport::kReaderProduct) {
        std::printf("  bus %s, device %s\n", bus->dirname, device->filename);
        ++found;
      }
    }
  }
  if (found == 0) {
    std::printf("  none\n");
  }
  return found;
}

// "01:00:02:00:03:00": the six bytes of the clock record.
std::optional<std::array<std::uint8_t, 6>> ParseRecord(const char* text) {
  std::array<std::uint8_t, 6> record{};
  for (std::size_t i = 0; i < record.size(); ++i) {
    unsigned value = 0;
    int used = 0;
    if (std::sscanf(text, "%2x%n", &value, &used) != 1 || used != 2) {
      return std::nullopt;
    }
    record[i] = static_cast<std::uint8_t>(value);
    text += used;
    const char expected = i + 1 < record.size() ? ':' : '\0';
    if (*text != expected) {
      return std::nullopt;
    }
    ++text;
  }
  return record;
}

int Usage(std::FILE* to, int status) {
  std::fputs(
      "usage: tagport-probe [--set-rtc B0:B1:B2:B3:B4:B5]\n"
      "Lists the wristband readers and calls tagport's read-only exports.\n"
      "--set-rtc also sends the six clock record bytes (hex) to SetRTC.\n"
      "Exits 1 when no reader can be opened.\n",
      to);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::array<std::uint8_t, 6>> record;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      return Usage(stdout, kExitOk);
    }
    if (std::strcmp(argv[i], "--set-rtc") == 0 && i + 1 < argc && !record) {
      record = ParseRecord(argv[++i]);
      if (record) {
        continue;
      }
    }
    return Usage(stderr, kExitUsage);
  }

  const int listed = ListReaders();

  const std::int32_t open = OpenReader(0);
  Report("OpenReader", open, open == 1 ? "reader open" : "no reader could be opened");
  if (open != 1) {
    if (listed > 0) {
      std::printf(
          "The reader is there but cannot be opened: is this user in group plugdev,\n"
          "and is the udev rule 60-tagport.rules installed?\n");
    }
    return kExitNoReader;
  }

  std::uint8_t version[10] = {};
  const std::int32_t versionCode = GetReaderVersion(version);
  Report("GetReaderVersion", versionCode, Meaning(versionCode, false, false),
         versionCode != 0
             ? std::string{}
             : Hex(version, sizeof version) + " \"" + Printable(version, sizeof version) + "\"");
  Tag("ReadRFID", ReadRFID);
  Tag("GetHandId", GetHandId);
  Tag("GetHandType", GetHandType);
  Tag("GetLimitInfo", GetLimitInfo, true);
  std::uint8_t clock[6] = {};
  const std::int32_t clockCode = GetRTC(clock);
  Report("GetRTC", clockCode, Meaning(clockCode, false, false),
         clockCode != 0 ? std::string{} : Hex(clock, sizeof clock));
  if (record) {
    const std::int32_t setCode = SetRTC(record->data());
    Report("SetRTC", setCode, Meaning(setCode, false, false),
           "sent " + Hex(record->data(), record->size()));
  }
  CloseReader();
  return kExitOk;
}
