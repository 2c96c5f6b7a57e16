#include "tds_wire.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "utf16.h"

namespace upgrade::testing {
namespace tds {
namespace {

// Reads a message body front to back; running off its end is a violation.
class Reader {
 public:
  Reader(const Bytes& data, std::string what) : data_(data), what_(std::move(what)) {}

  [[nodiscard]] size_t left() const { return data_.size() - at_; }
  [[nodiscard]] bool done() const { return at_ == data_.size(); }

  const std::uint8_t* take(size_t size) {
    if (left() < size) {
      throw Violation{what_ + ": ends after " + std::to_string(data_.size()) +
                      " bytes, inside a field of " + std::to_string(size)};
    }
    const std::uint8_t* p = data_.data() + at_;
    at_ += size;
    return p;
  }
  std::uint8_t u8() { return *take(1); }
  std::uint16_t u16() {
    const auto* p = take(2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  std::uint32_t u32() {
    const auto* p = take(4);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  std::uint64_t u64() {
    const std::uint64_t low = u32();
    return low | static_cast<std::uint64_t>(u32()) << 32;
  }
  std::u16string utf16Bytes(size_t bytes) {
    if (bytes % 2 != 0) {
      throw Violation{what_ + ": UTF-16 text of an odd length, " + std::to_string(bytes)};
    }
    const auto* p = take(bytes);
    std::u16string text(bytes / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    }
    return text;
  }
  std::u16string bVarChar() { return utf16Bytes(size_t{u8()} * 2); }
  std::u16string rest() { return utf16Bytes(left()); }

  void expectEnd() {
    if (!done()) {
      throw Violation{what_ + ": " + std::to_string(left()) + " bytes left over"};
    }
  }

 private:
  const Bytes& data_;
  std::string what_;
  size_t at_ = 0;
};

std::uint16_t le16(const Bytes& data, size_t at) {
  return static_cast<std::uint16_t>(data.at(at) | data.at(at + 1) << 8);
}

// A UTF-16LE field of LOGIN7 given by its offset/length pair at `at`. The password
// is scrambled: each byte had its nibbles swapped and was XORed with 0xA5.
std::string loginField(const Bytes& login, size_t at, bool scrambled = false) {
  const size_t offset = le16(login, at);
  const size_t units = le16(login, at + 2);
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    std::array<std::uint8_t, 2> unit = {login.at(offset + 2 * i), login.at(offset + 2 * i + 1)};
    if (scrambled) {
      for (auto& byte : unit) {
        byte ^= 0xA5;
        byte = static_cast<std::uint8_t>((byte & 0x0F) << 4 | byte >> 4);
      }
    }
    text += static_cast<char16_t>(unit[0] | unit[1] << 8);
  }
  return text::toUtf8(text);
}

std::uint64_t allHeaders(Reader& in) {
  // Exactly one header, the transaction descriptor: that is all FreeTDS sends.
  const std::uint32_t total = in.u32();
  const std::uint32_t length = in.u32();
  const std::uint16_t type = in.u16();
  if (total != 22 || length != 18 || type != 2) {
    throw Violation{"ALL_HEADERS of " + std::to_string(total) + " bytes, first header type " +
                    std::to_string(type) + " of " + std::to_string(length)};
  }
  const std::uint64_t carried = in.u64();
  if (const std::uint32_t outstanding = in.u32(); outstanding != 1) {
    throw Violation{"ALL_HEADERS: " + std::to_string(outstanding) + " outstanding requests"};
  }
  return carried;
}

void decodeRpc(Reader& in, TdsRequest& request) {
  const std::uint16_t nameLength = in.u16();
  if (nameLength != 0xFFFF) {
    throw Violation{"RPC to a procedure by name: " +
                    text::toUtf8(in.utf16Bytes(size_t{nameLength} * 2))};
  }
  if (const std::uint16_t id = in.u16(); id != kSpExecuteSql) {
    throw Violation{"RPC to procedure id " + std::to_string(id)};
  }
  if (const std::uint16_t flags = in.u16(); flags != 0) {
    throw Violation{"RPC with option flags " + hex(flags)};
  }
  struct Parameter {
    std::u16string name;
    std::string type;
    std::u16string value;
  };
  std::vector<Parameter> parameters;
  while (!in.done()) {
    Parameter p;
    p.name = in.bVarChar();
    if (const std::uint8_t status = in.u8(); status != 0) {
      throw Violation{"RPC parameter with status " + hex(status)};
    }
    const std::uint8_t dataType = in.u8();
    if (dataType == kNText) {
      const std::uint32_t maxLength = in.u32();
      in.take(kCollation.size());
      const std::uint32_t length = in.u32();
      if (length > maxLength) {
        throw Violation{"NTEXT parameter longer than its declared size"};
      }
      p.type = "NTEXT";
      p.value = in.utf16Bytes(length);
    } else if (dataType == kNVarChar) {
      const std::uint16_t maxLength = in.u16();
      in.take(kCollation.size());
      const std::uint16_t length = in.u16();
      if (maxLength == 0xFFFF || length > maxLength) {
        throw Violation{"NVARCHAR parameter of " + std::to_string(length) + " bytes, at most " +
                        std::to_string(maxLength)};
      }
      p.type = "NVARCHAR(" + std::to_string(maxLength / 2) + ")";
      p.value = in.utf16Bytes(length);
    } else if (dataType == kBitN) {
      if (in.u8() != 1 || in.u8() != 1) {
        throw Violation{"BIT parameter that is not one byte"};
      }
      const std::uint8_t bit = in.u8();
      if (bit > 1) {
        throw Violation{"BIT parameter of value " + std::to_string(bit)};
      }
      p.type = "BIT";
      p.value = bit == 1 ? u"1" : u"0";
    } else {
      throw Violation{"RPC parameter of data type " + hex(dataType)};
    }
    parameters.push_back(std::move(p));
  }
  if (parameters.size() < 2 || parameters[0].type == "BIT" || parameters[1].type == "BIT") {
    throw Violation{"sp_executesql without its statement and parameter list"};
  }
  request.text = parameters[0].value;
  request.definitions = parameters[1].value;

  // Every value must be declared, in order: "@P1 BIT,@P2 NVARCHAR(9)".
  const std::string definitions = text::toUtf8(request.definitions);
  size_t at = 0;
  for (size_t i = 2; i < parameters.size(); ++i) {
    const size_t end = std::min(definitions.find(',', at), definitions.size());
    const std::string expected = "@P" + std::to_string(i - 1) + " " + parameters[i].type;
    if (definitions.substr(at, end - at) != expected) {
      throw Violation{"sp_executesql declares \"" + definitions + "\" for a value of type " +
                      parameters[i].type};
    }
    request.values.push_back({parameters[i].type, parameters[i].value});
    at = end + 1;
  }
  if (at < definitions.size() || parameters.size() == 2) {
    throw Violation{"sp_executesql declares \"" + definitions + "\" for " +
                    std::to_string(parameters.size() - 2) + " values"};
  }
}

void decodeTransaction(Reader& in, TdsRequest& request) {
  const std::uint16_t type = in.u16();
  auto unnamed = [&] {
    if (!in.bVarChar().empty()) {
      throw Violation{"a named transaction"};
    }
  };
  if (type == 5) {
    request.kind = TdsRequest::Kind::Begin;
    in.u8();  // isolation level
    unnamed();
  } else if (type == 7 || type == 8) {
    request.kind = type == 7 ? TdsRequest::Kind::Commit : TdsRequest::Kind::Rollback;
    unnamed();
    const std::uint8_t flags = in.u8();
    if ((flags & ~0x01) != 0) {
      throw Violation{"transaction request flags " + hex(flags)};
    }
    request.beginNext = flags == 0x01;
    if (request.beginNext) {
      in.u8();  // isolation level
      unnamed();
    }
  } else {
    throw Violation{"transaction manager request type " + std::to_string(type)};
  }
  in.expectEnd();
}

}  // namespace

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

void checkPreLogin(const Bytes& payload) {
  size_t at = 0;
  for (;;) {
    if (at >= payload.size()) {
      throw Violation{"PRELOGIN: option table without its terminator"};
    }
    const std::uint8_t option = payload[at];
    if (option == 0xFF) {
      return;
    }
    if (at + 5 > payload.size()) {
      throw Violation{"PRELOGIN: option table cut short"};
    }
    const size_t offset = static_cast<size_t>(payload[at + 1]) << 8 | payload[at + 2];
    const size_t length = static_cast<size_t>(payload[at + 3]) << 8 | payload[at + 4];
    if (offset + length > payload.size()) {
      throw Violation{"PRELOGIN: option " + hex(option) + " lies outside the message"};
    }
    if (option == 0x01 && (length != 1 || (payload[offset] != 0x00 && payload[offset] != 0x02))) {
      throw Violation{"PRELOGIN: the client asks for encryption"};
    }
    at += 5;
  }
}

// Without the MARS option FreeTDS would take the server for SQL Server 2000 and log
// in with TDS 7.1.
Bytes preLoginReply() {
  Writer out;
  const std::array<std::pair<std::uint8_t, Bytes>, 4> options = {{
      {0x00, {0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00}},
      {0x01, {0x02}},
      {0x03, {0x00}},
      {0x04, {0x00}},
  }};
  auto offset = static_cast<std::uint16_t>(options.size() * 5 + 1);
  for (const auto& [option, value] : options) {
    const auto length = static_cast<std::uint16_t>(value.size());
    out.u8(option).u16be(offset).u16be(length);
    offset = static_cast<std::uint16_t>(offset + length);
  }
  out.u8(0xFF);
  for (const auto& entry : options) {
    out.raw(entry.second);
  }
  return out.bytes();
}

CapturedLogin decodeLogin(const Bytes& login) {
  Reader in(login, "LOGIN7");
  if (in.u32() != login.size()) {
    throw Violation{"LOGIN7: its length field disagrees with the message"};
  }
  try {
    CapturedLogin captured;
    captured.tdsVersion = static_cast<std::uint32_t>(login.at(4)) |
                          static_cast<std::uint32_t>(login.at(5)) << 8 |
                          static_cast<std::uint32_t>(login.at(6)) << 16 |
                          static_cast<std::uint32_t>(login.at(7)) << 24;
    captured.hostName = loginField(login, 36);
    captured.userName = loginField(login, 40);
    captured.password = loginField(login, 44, true);
    captured.appName = loginField(login, 48);
    captured.serverName = loginField(login, 52);
    captured.database = loginField(login, 68);
    return captured;
  } catch (const std::out_of_range&) {
    throw Violation{"LOGIN7: a field lies outside the message"};
  }
}

TdsRequest decodeRequest(std::uint8_t type, const Bytes& payload) {
  TdsRequest request;
  if (type == kSqlBatch) {
    Reader in(payload, "SQL batch");
    request.kind = TdsRequest::Kind::Batch;
    request.descriptor = allHeaders(in);
    request.text = in.rest();
  } else if (type == kRpc) {
    Reader in(payload, "RPC");
    request.kind = TdsRequest::Kind::Rpc;
    request.descriptor = allHeaders(in);
    decodeRpc(in, request);
  } else {
    Reader in(payload, "transaction manager request");
    request.descriptor = allHeaders(in);
    decodeTransaction(in, request);
  }
  return request;
}

}  // namespace tds

namespace {

std::string json(std::u16string_view text) {
  std::string out = "\"";
  for (const char c : text::toUtf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string toJsonLine(const TdsRequest& request) {
  static constexpr std::array<const char*, 5> kNames = {"batch", "rpc", "begin", "commit",
                                                        "rollback"};
  std::string out = "{\"n\":" + std::to_string(request.number) + ",\"request\":\"" +
                    kNames.at(static_cast<size_t>(request.kind)) + "\"";
  if (request.kind == TdsRequest::Kind::Batch || request.kind == TdsRequest::Kind::Rpc) {
    out += ",\"text\":" + json(request.text);
  }
  if (request.kind == TdsRequest::Kind::Rpc) {
    out += ",\"params\":" + json(request.definitions) + ",\"values\":[";
    for (size_t i = 0; i < request.values.size(); ++i) {
      out += (i == 0 ? "" : ",") + json(request.values[i].text);
    }
    out += "]";
  }
  if (request.beginNext) {
    out += ",\"beginNext\":true";
  }
  return out + ",\"descriptor\":" + std::to_string(request.descriptor) + "}";
}

}  // namespace upgrade::testing
