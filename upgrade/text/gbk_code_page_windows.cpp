#include <windows.h>

#include "gbk_code_page.h"

namespace upgrade::text::detail {
namespace {

constexpr unsigned kGbkCodePage = 936;

std::wstring toWide(std::string_view bytes, unsigned codePage, DWORD flags) {
  if (bytes.empty()) {
    return {};
  }
  const int size = static_cast<int>(bytes.size());
  const int wide = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (wide <= 0) {
    return {};
  }
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), size, out.data(), wide);
  return out;
}

std::optional<std::string> fromWide(const std::wstring& wide, unsigned codePage) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefaultPtr);
  if (length <= 0 || usedDefault) {
    return std::nullopt;
  }
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace

struct GbkDecoder::State {};

GbkDecoder::GbkDecoder() = default;
GbkDecoder::~GbkDecoder() = default;

std::optional<std::string> GbkDecoder::decode(std::string_view gbk) const {
  if (gbk.empty()) {
    return std::string();
  }
  const std::wstring wide = toWide(gbk, kGbkCodePage, MB_ERR_INVALID_CHARS);
  if (wide.empty()) {
    return std::nullopt;
  }
  return fromWide(wide, CP_UTF8);
}

std::optional<std::string> encodeGbk(std::string_view utf8) {
  const std::wstring wide = toWide(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (wide.empty()) {
    return std::nullopt;
  }
  return fromWide(wide, kGbkCodePage);
}

}  // namespace upgrade::text::detail
