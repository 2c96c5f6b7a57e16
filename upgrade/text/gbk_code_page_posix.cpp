#include <iconv.h>

#include <cerrno>

#include "gbk_code_page.h"

namespace upgrade::text::detail {
namespace {

// glibc's "CP936" is Microsoft's code page 936 (with 0x80 as the euro sign), the
// one the suite's Windows programs write.
class Iconv {
 public:
  Iconv(const char* to, const char* from) noexcept : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) {
      iconv_close(cd_);
    }
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  [[nodiscard]] bool ok() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted, or nullopt if any of it cannot be.
  std::optional<std::string> convert(std::string_view input) const {
    if (!ok()) {
      return std::nullopt;
    }
    std::string in(input);
    std::string out(input.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

struct GbkDecoder::State {
  Iconv toUtf8{"UTF-8", "CP936"};
};

GbkDecoder::GbkDecoder() : state_(std::make_unique<State>()) {}
GbkDecoder::~GbkDecoder() = default;

std::optional<std::string> GbkDecoder::decode(std::string_view gbk) const {
  return state_->toUtf8.convert(gbk);
}

std::optional<std::string> encodeGbk(std::string_view utf8) {
  return Iconv("CP936", "UTF-8").convert(utf8);
}

}  // namespace upgrade::text::detail
