// UTF-8 <-> UTF-16 as the wide ODBC calls need it, and the one GBK converter.
#include <gtest/gtest.h>

#include "text_encoding.h"
#include "utf16.h"

namespace upgrade::text {
namespace {

TEST(TextConversion, RoundTripsChineseAndCharactersBeyondTheBasicPlane) {
  const std::string text = "向V1.0.0.0.31升级时失败！ é ß 𠀋 😀";
  const std::u16string units = toUtf16(text);
  EXPECT_EQ(units, u"向V1.0.0.0.31升级时失败！ é ß 𠀋 😀");
  // A character beyond the basic plane takes a surrogate pair.
  EXPECT_EQ(toUtf16("😀"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(toUtf8(units), text);
  EXPECT_EQ(toUtf8(toUtf16("")), "");
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharactersWithoutEatingNeighbours) {
  // A stray continuation byte, a truncated three-byte sequence followed by ASCII, an
  // overlong '/', an encoded surrogate, a byte that never starts a sequence, and a
  // truncated sequence at the very end.
  EXPECT_EQ(toUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(toUtf16("\xE4\xB8z"), u"\uFFFDz");
  EXPECT_EQ(toUtf16("\xC0\xAF!"), u"\uFFFD!");
  EXPECT_EQ(toUtf16("\xED\xA0\x80."), u"\uFFFD.");
  EXPECT_EQ(toUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(toUtf16("ok\xE4"), u"ok\uFFFD");
  EXPECT_EQ(toUtf16("\xF4\x90\x80\x80"), u"\uFFFD");  // beyond U+10FFFF
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(toUtf8(std::u16string{u'a', 0xD800, u'b'}), "a\uFFFDb");
  EXPECT_EQ(toUtf8(std::u16string{0xDC00}), "\uFFFD");
  EXPECT_EQ(toUtf8(std::u16string{u'x', 0xD83D}), "x\uFFFD");
}

// Code page 936 as Microsoft's Windows programs write it, where iconv's plain
// "GBK" table has no 0x80: the euro sign, both ways, in every decoder.
TEST(TextConversion, GbkIsCodePage936WithTheEuroSignAt0x80) {
  const GbkToUtf8 gbkToUtf8;
  EXPECT_EQ(gbkToUtf8("\x80 \xC7\xB0\xCC\xA8"), "€ 前台");
  EXPECT_EQ(decodeGbk("\x80"), "€");
  EXPECT_EQ(utf8ToGbk("€前台"), "\x80\xC7\xB0\xCC\xA8");
  EXPECT_EQ(decodeGbk("ok\xC7"), std::nullopt) << "a lead byte without its trail";
  EXPECT_EQ(gbkToUtf8("ok\xC7"), "ok\uFFFD");
  EXPECT_EQ(utf8ToGbk("😀"), std::nullopt);
}

// Whole runs go to the converter at once: a pair the code page leaves unassigned
// (A1 40), or a lead byte without its trail, must spoil no character around it, and
// one converter serves many texts.
TEST(TextConversion, GbkRunsDecodeAsCharacterByCharacter) {
  const GbkToUtf8 decode;
  EXPECT_EQ(decode("\xD6\xD0\xA1\x40\xCE\xC4"), "中" + decode("\xA1\x40") + "文");
  EXPECT_EQ(decode("\xD6\xD0\xC7=\xCE\xC4"), "中\uFFFD=文");
  EXPECT_EQ(decode("plain"), "plain");
}

}  // namespace
}  // namespace upgrade::text
