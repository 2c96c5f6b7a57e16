#include "settings_lines.h"

#include <algorithm>

#include "ascii.h"
#include "utf16.h"

namespace upgrade::settings::detail {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

std::string_view LineBlocks::next() {
  // What followed the last line break of the previous block starts this one.
  buffer_.erase(0, handedOut_);
  filled_ -= handedOut_;
  handedOut_ = 0;
  for (;;) {
    if (filled_ == buffer_.size()) {
      buffer_.resize(std::max(kBlockSize, buffer_.size() * 2));
    }
    in_.read(buffer_.data() + filled_, static_cast<std::streamsize>(buffer_.size() - filled_));
    const auto count = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) {
      failed_ = true;
      return {};
    }
    filled_ += count;
    const std::string_view filled(buffer_.data(), filled_);
    const std::size_t lastBreak = filled.rfind('\n');
    if (lastBreak != std::string_view::npos) {
      handedOut_ = lastBreak + 1;
      return filled.substr(0, handedOut_);
    }
    if (count == 0 || in_.eof()) {
      handedOut_ = filled_;
      return filled;
    }
  }
}

std::optional<FileFacts> examine(std::istream& in, std::optional<Encoding> known) {
  FileFacts facts;
  LineBlocks blocks(in);
  bool first = true;
  bool utf8 = true;
  bool ascii = true;
  for (std::string_view block = blocks.next(); !block.empty(); block = blocks.next()) {
    if (first) {
      first = false;
      if (block.starts_with("\xFF\xFE") || block.starts_with("\xFE\xFF")) {
        facts.encoding = block[0] == '\xFF' ? Encoding::Utf16Le : Encoding::Utf16Be;
        facts.bomLength = 2;
        return facts;
      }
      if (block.starts_with("\xEF\xBB\xBF")) {
        facts.bomLength = 3;
      }
    }
    if (facts.newline.empty()) {
      const std::string_view text = block.substr(std::min(block.size(), facts.bomLength));
      if (const std::size_t at = text.find('\n'); at != std::string_view::npos) {
        facts.newline = at > 0 && text[at - 1] == '\r' ? "\r\n" : "\n";
      }
    }
    if ((facts.bomLength != 0 || known) && !facts.newline.empty()) {
      facts.encoding = known.value_or(Encoding::Utf8);  // whatever follows
      return facts;
    }
    ascii = ascii && text::isAscii(block);
    utf8 = utf8 && (ascii || text::isValidUtf8(block));
    if (!utf8 && !facts.newline.empty()) {
      facts.encoding = Encoding::Gbk;  // whatever follows
      return facts;
    }
  }
  if (blocks.failed()) {
    return std::nullopt;
  }
  if (known) {
    facts.encoding = *known;
  } else if (facts.bomLength != 0) {
    facts.encoding = Encoding::Utf8;
  } else {
    facts.encoding = ascii ? Encoding::Ascii : (utf8 ? Encoding::Utf8 : Encoding::Gbk);
  }
  return facts;
}

Utf16LeDecoder::int_type Utf16LeDecoder::underflow() {
  while (gptr() == egptr()) {
    const std::size_t kept = bytes_.size();
    bytes_.resize(kept + kBlockSize);
    in_.read(bytes_.data() + kept, static_cast<std::streamsize>(kBlockSize));
    bytes_.resize(kept + static_cast<std::size_t>(in_.gcount()));
    if (in_.bad()) {
      lossy_ = true;  // what could not be read cannot be written back
      return traits_type::eof();
    }
    const bool end = in_.gcount() == 0;
    if (end && bytes_.empty()) {
      return traits_type::eof();
    }
    std::u16string units;
    units.reserve(bytes_.size() / 2);
    std::size_t at = 0;
    for (; at + 1 < bytes_.size(); at += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes_[at]) |
                                     static_cast<unsigned char>(bytes_[at + 1]) << 8);
    }
    bytes_.erase(0, at);
    // A high surrogate waits for its partner in the next block.
    if (!end && !units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) {
      bytes_.insert(0, 2, '\0');
      bytes_[0] = static_cast<char>(units.back() & 0xFF);
      bytes_[1] = static_cast<char>(units.back() >> 8);
      units.pop_back();
    }
    if (end && !bytes_.empty()) {
      units += u'\uFFFD';  // a lone last byte
      bytes_.clear();
      lossy_ = true;
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
      const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
      const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
      if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        ++i;
      } else if (high || low) {
        lossy_ = true;
      }
    }
    decoded_ = text::toUtf8(units);
    setg(decoded_.data(), decoded_.data(), decoded_.data() + decoded_.size());
  }
  return traits_type::to_int_type(*gptr());
}

Line LineReader::classify(std::string_view line) const {
  const std::string text = encoding_ == Encoding::Gbk ? gbk_(line) : text::sanitiseUtf8(line);
  Line out;
  const std::string_view body = text::trimmed(text);
  if (!body.empty() && body.front() == '[') {
    const std::size_t close = body.find(']');
    if (close != std::string_view::npos) {
      out.kind = Line::Kind::Section;
      out.name = text::trimmed(body.substr(1, close - 1));
      return out;
    }
  }
  const std::size_t equals = text.find('=');
  if (equals != std::string::npos) {
    out.kind = Line::Kind::Key;
    out.name = text::trimmed(std::string_view(text).substr(0, equals));
    out.value = text.substr(equals + 1);
  }
  return out;
}

}  // namespace upgrade::settings::detail
