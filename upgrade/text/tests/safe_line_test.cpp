// Text from the server, the driver or System.ini on one line of the run log: it can
// neither forge a line of its own nor change how the rest of the line shows.
#include <gtest/gtest.h>

#include "safe_line.h"

namespace upgrade::text {
namespace {

TEST(SafeLine, HostileTextStaysOnOneVisibleLine) {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"\r\nplain 升级成功！\r\nb\n\n\rc\r\n", "plain 升级成功！ / b / c"},
      // Line and paragraph separators, NEL, VT and FF break lines for many readers:
      // a server message must not show a success line that nobody logged.
      {"refused\u2028"
       "2024-05-01 09:30:21.992Z message: 升级成功！",
       "refused / 2024-05-01 09:30:21.992Z message: 升级成功！"},
      {"a\u2029b\u0085c\vd\fe", "a / b / c / d / e"},
      {std::string_view("tab\there\x1B[2J\x07\x7F\0c1\u009B31m", 22), "tab here [2J   c1 31m"},
      {"evil\u202Etxt.exe \u2066x\u2069 \u202A\u202B\u202C\u202D",
       "evil<U+202E>txt.exe <U+2066>x<U+2069> <U+202A><U+202B><U+202C><U+202D>"},
      {"bad \xC0\xAF \xFF end\xE4", "bad \uFFFD\uFFFD \uFFFD end\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(safeLine(c.in), c.out) << c.in;
  }
}

TEST(SafeLine, SecretsAreMaskedWhereverTheyAppear) {
  EXPECT_EQ(masked("Login failed: password 'pw;x' for 'pw;x'", {"pw;x"}),
            "Login failed: password '***' for '***'");
  EXPECT_EQ(masked("nothing to hide", {""}), "nothing to hide") << "an empty password";
  EXPECT_EQ(masked("abcd", {"ab", "abcd"}), "***") << "the longer secret first";
  EXPECT_EQ(masked("aaaa", {"aa"}), "******");
}

}  // namespace
}  // namespace upgrade::text
