// The ASCII rules every layer trims and compares names by: only ASCII blanks go,
// only A to Z fold, and bytes of GBK or UTF-8 characters are never touched.
#include <gtest/gtest.h>

#include "ascii.h"

namespace upgrade::text {
namespace {

TEST(AsciiText, TrimsOnlyTheBlanksAskedForAtEitherEnd) {
  EXPECT_EQ(trimmed(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
  EXPECT_EQ(trimmed(" \t "), "");
  EXPECT_EQ(trimmed("\n x \n", " \t"), "\n x \n") << "only the blanks given";
  EXPECT_EQ(trimmed("\xA1\xA1 前台 \xA1\xA1"), "\xA1\xA1 前台 \xA1\xA1") << "GBK's own space stays";
  const auto control = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  EXPECT_EQ(trimmed(std::string_view("\0\x1F x\x7F \x01", 7), control), "x\x7F");
}

TEST(AsciiText, OnlyAToZFoldWhenNamesAreCompared) {
  EXPECT_TRUE(equalsIgnoringAsciiCase("ServerIP", "SERVERip"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("ServerIP", "ServerIP1"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC0", "\xE0")) << "Latin-1 letters do not fold";
  EXPECT_FALSE(equalsIgnoringAsciiCase("@[`{", "`{@[")) << "nor what lies next to A to Z";
}

}  // namespace
}  // namespace upgrade::text
