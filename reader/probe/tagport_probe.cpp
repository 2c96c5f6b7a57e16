// tagport-probe: a technician's look at the wristband reader. Lists the readers libusb
// sees, then calls tagport's read-only exports and prints each result with its meaning
// and the bytes returned. With --set-rtc it also sets the reader's clock. With
// --check-code it sends only the check that precedes tag operations, with a candidate
// code in place of the built-in one, so a code can be tried without rebuilding.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "tagport.h"
#include "tagport_check_code.h"
#include "usb_api.h"
#include "usb_link.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoReader = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCheckRefused = 3;

// The check's request number and reply length, as tagport sends it.
constexpr int kCheckRequest = 122;
constexpr int kCheckReplyLength = 1;

struct CheckCode {
  std::uint16_t first;   // wValue
  std::uint16_t second;  // wIndex
};
constexpr CheckCode kBuiltInCode{tagport::kCheckCodeFirst, tagport::kCheckCodeSecond};

std::string CodeText(CheckCode code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X:0x%04X", code.first, code.second);
  return text;
}

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

// The first reader in tagport's order, opened as tagport opens it; null when there is
// none or it does not open.
usb_dev_handle* OpenFirstReader() {
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (device->descriptor.idVendor == tagport::kReaderVendor &&
          device->descriptor.idProduct == tagport::kReaderProduct) {
        usb_dev_handle* handle = usb_open(device);
        if (handle != nullptr && !tagport::usb::HandleIsOpen(handle)) {
          usb_close(handle);
          return nullptr;
        }
        return handle;
      }
    }
  }
  return nullptr;
}

// Sends the check with `code` and says what the reader's answer means for tag
// operations. The reply buffer is preset as tagport presets it.
int TryCheckCode(usb_dev_handle* reader, CheckCode code) {
  char reply[kCheckReplyLength] = {1};
  const int got = usb_control_msg(reader, USB_ENDPOINT_IN | USB_TYPE_VENDOR | USB_RECIP_DEVICE,
                                  kCheckRequest, code.first, code.second, reply, kCheckReplyLength,
                                  tagport::kTransferTimeoutMs);
  std::printf("Check with %s: ", CodeText(code).c_str());
  if (got < kCheckReplyLength) {
    std::printf(
        "no status from the reader (%s)\n"
        "  tagport reads this as status 1: every tag operation would return 2.\n",
        got < 0 ? usb_strerror() : "empty reply");
    return kExitCheckRefused;
  }
  const auto status = static_cast<unsigned>(static_cast<std::uint8_t>(reply[0]));
  if (status == 0) {
    std::printf(
        "status 0, accepted\n"
        "  With this code tag operations go on to their own request.\n");
    return kExitOk;
  }
  std::printf(
      "status %u, refused\n"
      "  With this code every tag operation would return %u without sending its request.\n",
      status, status + 1);
  return kExitCheckRefused;
}

// "0x5AA5:0x0F1E" or "5aa5:f1e": two words of one to four hex digits.
std::optional<CheckCode> ParseCode(const char* text) {
  std::array<std::uint16_t, 2> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      text += 2;
    }
    const std::size_t digits = std::strspn(text, "0123456789abcdefABCDEF");
    if (digits == 0 || digits > 4) {
      return std::nullopt;
    }
    words[i] = static_cast<std::uint16_t>(std::stoul(std::string(text, digits), nullptr, 16));
    text += digits;
    const char expected = i + 1 < words.size() ? ':' : '\0';
    if (*text != expected) {
      return std::nullopt;
    }
    ++text;
  }
  return CheckCode{words[0], words[1]};
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

// No reader could be opened; says why when one is there.
int NoReader(int listed) {
  if (listed > 0) {
    std::printf(
        "The reader is there but cannot be opened: is this user in group plugdev,\n"
        "and is the udev rule 60-tagport.rules installed?\n");
  }
  return kExitNoReader;
}

int Usage(std::FILE* to, int status) {
  std::fputs(
      "usage: tagport-probe [--set-rtc B0:B1:B2:B3:B4:B5]\n"
      "       tagport-probe --check-code FIRST:SECOND\n"
      "Lists the wristband readers and calls tagport's read-only exports.\n"
      "--set-rtc also sends the six clock record bytes (hex) to SetRTC.\n"
      "--check-code sends only the check that precedes every tag operation, with this\n"
      "code (two 16-bit hex words, e.g. 0x5AA5:0x0F1E) in place of the built-in one,\n"
      "and reports the reader's answer.\n"
      "Exits 1 when no reader can be opened, 3 when the reader refuses the code.\n",
      to);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::array<std::uint8_t, 6>> record;
  std::optional<CheckCode> candidate;
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
    if (std::strcmp(argv[i], "--check-code") == 0 && i + 1 < argc && !candidate) {
      candidate = ParseCode(argv[++i]);
      if (candidate) {
        continue;
      }
    }
    return Usage(stderr, kExitUsage);
  }
  if (record && candidate) {
    return Usage(stderr, kExitUsage);  // the check alone, or the whole probe
  }

  const int listed = ListReaders();
  std::printf("tagport's built-in check code: %s\n", CodeText(kBuiltInCode).c_str());

  if (candidate) {
    usb_dev_handle* reader = OpenFirstReader();
    if (reader == nullptr) {
      std::printf("No reader could be opened.\n");
      return NoReader(listed);
    }
    const int status = TryCheckCode(reader, *candidate);
    usb_close(reader);
    return status;
  }

  const std::int32_t open = OpenReader(0);
  Report("OpenReader", open, open == 1 ? "reader open" : "no reader could be opened");
  if (open != 1) {
    return NoReader(listed);
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
