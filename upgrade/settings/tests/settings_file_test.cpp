// The profile file as the suite's programs share it: what a reader sees in odd
// files, and what a write leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "scratch_dir.h"
#include "settings_file.h"

namespace upgrade::settings {
namespace {

namespace fs = std::filesystem;

// A new file takes the platform's line breaks: CR LF on Windows, as the profile
// functions write them there.
std::string withPlatformLineBreaks(std::string text) {
#ifdef _WIN32
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
    text.insert(at, 1, '\r');
  }
#endif
  return text;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_ / "System.ini"; }

  void put(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
  [[nodiscard]] std::string contents() const { return testing::readFile(path_); }
  [[nodiscard]] std::string read(std::string_view section, std::string_view key) const {
    return SettingsFile(path_).readString(section, key, "<default>");
  }

  testing::ScratchDir dir_{"settings"};
  fs::path path_;
};

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndIsNotCreated) {
  const SettingsFile settings(path_);
  EXPECT_EQ(settings.readString("ServerIP", "ServerIP1", "."), ".");
  EXPECT_EQ(settings.readInteger("ServerPort", "ServerPort1", 80), 80);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsFileTest, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
  put("[serverip]\n"
      "  SERVERIP1 =  10.0.0.5 , 1433  \n"
      "[Quoted]\n"
      "double= \"  spaced out  \" \n"
      "single='x'\n"
      "mismatched=\"x'\n"
      "nested=\"\"x\"\"\n"
      "lone=\"\n"
      "empty=\n"
      "equals=a=b\n");
  EXPECT_EQ(read("ServerIP", "ServerIP1"), "10.0.0.5 , 1433");
  EXPECT_EQ(read("quoted", "DOUBLE"), "  spaced out  ");
  EXPECT_EQ(read("Quoted", "single"), "x");
  EXPECT_EQ(read("Quoted", "mismatched"), "\"x'");
  EXPECT_EQ(read("Quoted", "nested"), "\"x\"");
  EXPECT_EQ(read("Quoted", "lone"), "\"");
  EXPECT_EQ(read("Quoted", "empty"), "");
  EXPECT_EQ(read("Quoted", "equals"), "a=b");
  EXPECT_EQ(read("Quoted", "missing"), "<default>");
  EXPECT_EQ(read("Missing", "double"), "<default>");
}

TEST_F(SettingsFileTest, FirstSectionAndFirstKeyWin) {
  put("Dbname1=before any section\n"
      "[Dbname]\n"
      "Dbname1=first\n"
      "dbname1=second\n"
      "[DBNAME]\n"
      "Dbname1=third\n"
      "Other=only in the second section\n");
  EXPECT_EQ(read("Dbname", "Dbname1"), "first");
  EXPECT_EQ(read("Dbname", "Other"), "<default>");
}

TEST_F(SettingsFileTest, CrLfLinesReadWithoutTheCarriageReturn) {
  put("[ServerPass]\r\nServerPass1=secret\r\n[Dbname]\r\nDbname1=Kvb\r\n");
  EXPECT_EQ(read("ServerPass", "ServerPass1"), "secret");
  EXPECT_EQ(read("Dbname", "Dbname1"), "Kvb");
}

TEST_F(SettingsFileTest, LongValuesAreCutAt2047Characters) {
  const std::string ascii(3000, 'a');
  std::string chinese;
  for (int i = 0; i < 2100; ++i) {
    chinese += "库";
  }
  put("[Long]\nascii=" + ascii + "\nchinese=" + chinese + "\nafter=still read\n");
  EXPECT_EQ(read("Long", "ascii"), std::string(2047, 'a'));
  const std::string cut = read("Long", "chinese");
  EXPECT_EQ(cut.size(), 2047u * 3u) << "characters, not bytes, and none split";
  EXPECT_EQ(read("Long", "after"), "still read");
}

TEST_F(SettingsFileTest, GbkFileIsReadAsGbk) {
  // "[Dbname]\nDbname1=浴场\n[ServerIP]\nServerIP1=服务器\n" in code page 936.
  put("[Dbname]\nDbname1=\xD4\xA1\xB3\xA1\n[ServerIP]\nServerIP1=\xB7\xFE\xCE\xF1\xC6\xF7\n");
  EXPECT_EQ(read("Dbname", "Dbname1"), "浴场");
  EXPECT_EQ(read("ServerIP", "ServerIP1"), "服务器");
}

TEST_F(SettingsFileTest, BrokenBytesCostOnlyThemselves) {
  // A lone lead byte and a 0xFF: each becomes one replacement character, and the
  // ASCII after them keeps its meaning.
  put("[ServerIP]\nServerIP1=a\xB7\n[Dbname]\nDbname1=\xFF"
      "b\n");
  EXPECT_EQ(read("ServerIP", "ServerIP1"), "a\xEF\xBF\xBD");
  EXPECT_EQ(read("Dbname", "Dbname1"),
            "\xEF\xBF\xBD"
            "b");
}

TEST_F(SettingsFileTest, Utf8FileWithByteOrderMark) {
  put("\xEF\xBB\xBF[Dbname]\nDbname1=浴场\n");
  EXPECT_EQ(read("Dbname", "Dbname1"), "浴场");
  SettingsFile(path_).writeString("ServerIP", "ServerIP1", "主机");
  EXPECT_EQ(contents(), "\xEF\xBB\xBF[Dbname]\nDbname1=浴场\n[ServerIP]\nServerIP1=主机\n");
}

// Notepad's "Unicode": UTF-16 little-endian after its byte order mark.
std::string utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Read as the profile functions read it, and written back in UTF-16 as they write
// it, every other line as it was. A file that would not come back the same is read
// but not written; one in UTF-16 big-endian is neither.
TEST_F(SettingsFileTest, Utf16FileIsReadAndStaysUtf16) {
  const std::u16string other = u"[Front]\r\nCaption=浴场 😀\r\n";
  put(utf16Le(other + u"[ServerIP]\r\nServerIP1 = \"db1\"\r\n"));
  SettingsFile settings(path_);
  EXPECT_EQ(read("ServerIP", "ServerIP1"), "db1");
  EXPECT_EQ(read("Front", "Caption"), "浴场 😀");
  EXPECT_EQ(settings.unreadableReason(), std::nullopt);
  settings.writeString("ServerIP", "ServerIP1", "服务器");
  settings.writeString("Dbname", "Dbname1", "Kvb");
  EXPECT_EQ(contents(),
            utf16Le(other + u"[ServerIP]\r\nServerIP1=服务器\r\n[Dbname]\r\nDbname1=Kvb\r\n"));

  const std::string unpaired = utf16Le(u"[a]\r\nk=\xD800x\r\n[ServerIP]\r\nServerIP1=db1\r\n");
  put(unpaired);
  EXPECT_EQ(read("a", "k"), "\uFFFDx");
  EXPECT_EQ(read("ServerIP", "ServerIP1"), "db1");
  EXPECT_THROW(settings.writeString("ServerIP", "ServerIP1", "x"), SettingsWriteError);
  EXPECT_EQ(contents(), unpaired);

  const std::string bigEndian("\xFE\xFF\0[\0a\0]\0\n\0k\0=\0v", 16);
  put(bigEndian);
  EXPECT_EQ(read("a", "k"), "<default>");
  EXPECT_EQ(settings.unreadableReason(), "it is in UTF-16 big-endian, which is not read");
  EXPECT_THROW(settings.writeString("a", "k", "x"), SettingsWriteError);
  EXPECT_EQ(contents(), bigEndian);
}

TEST_F(SettingsFileTest, IntegersTakeDecimalAndBothHexadecimalForms) {
  struct Case {
    const char* text;
    std::optional<int> value;
  };
  const Case cases[] = {
      {"80", 80},
      {"080", 80},
      {"-5", -5},
      {"+7", 7},
      {"0x1F", 31},
      {"0X1f", 31},
      {"$1F", 31},
      {"-$10", -16},
      {"0xFFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", {}},
      {"0x100000000", {}},
      {"abc", {}},
      {"", {}},
      {"0x", {}},
      {"$", {}},
      {"0x-1", {}},
      {"1 2", {}},
      {"80a", {}},
      {"1e3", {}},
      {"  81", 81},
      {"\t 0x1F", 31},
      {" ", {}},
      {"81 ", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseProfileInteger(c.text), c.value) << c.text;
  }
  put("[ServerPort]\nServerPort1=\"  81\"\n[Bad]\nServerPort1=eighty\n");
  EXPECT_EQ(SettingsFile(path_).readInteger("ServerPort", "ServerPort1", 80), 81)
      << "blanks kept by the quotes";
  EXPECT_EQ(SettingsFile(path_).readInteger("Bad", "ServerPort1", 80), 80);
}

TEST_F(SettingsFileTest, WritingIntoAMissingFileCreatesSectionsInFirstWrittenOrder) {
  SettingsFile settings(path_);
  settings.writeString("Dbname", "Dbname1", " Kvb ");
  settings.writeString("ServerIP", "ServerIP1", "srv");
  settings.writeString("ServerPass", "ServerPass1", "");
  settings.writeInteger("ServerPort", "ServerPort1", 1433);
  settings.writeString("ServerIP", "ServerIP1", "other");
  EXPECT_EQ(contents(),
            withPlatformLineBreaks("[Dbname]\nDbname1= Kvb \n[ServerIP]\nServerIP1=other\n"
                                   "[ServerPass]\nServerPass1=\n[ServerPort]\nServerPort1=1433\n"));
  EXPECT_EQ(settings.readString("Dbname", "Dbname1", ""), "Kvb");
  EXPECT_EQ(settings.readInteger("ServerPort", "ServerPort1", 80), 1433);
}

TEST_F(SettingsFileTest, WritingKeepsEveryOtherLineAsItWas) {
  put("; written by the front office\r\n"
      "[Printer]\r\n"
      "Port = LPT1  \r\n"
      "\r\n"
      "[serverip]\r\n"
      "Comment line without equals\r\n"
      "SERVERIP1 = old\r\n"
      "ServerIP1=duplicate\r\n"
      "\r\n"
      "[Dbname]\r\n"
      "Dbname1=Kvb");
  SettingsFile settings(path_);
  settings.writeString("ServerIP", "ServerIP1", "new");
  settings.writeString("Printer", "Copies", "2");
  settings.writeString("Dbname", "Extra", "x");
  settings.writeString("ServerPass", "ServerPass1", "pw");
  EXPECT_EQ(contents(),
            "; written by the front office\r\n"
            "[Printer]\r\n"
            "Port = LPT1  \r\n"
            "Copies=2\r\n"
            "\r\n"
            "[serverip]\r\n"
            "Comment line without equals\r\n"
            "SERVERIP1=new\r\n"
            "ServerIP1=duplicate\r\n"
            "\r\n"
            "[Dbname]\r\n"
            "Dbname1=Kvb\r\n"
            "Extra=x\r\n"
            "[ServerPass]\r\n"
            "ServerPass1=pw\r\n");
}

TEST_F(SettingsFileTest, GbkFileStaysGbk) {
  const std::string other = "[Front]\nCaption=\xD4\xA1\xB3\xA1\n";  // 浴场
  put(other + "[Dbname]\nDbname1=Kvb\n");
  SettingsFile settings(path_);
  settings.writeString("Dbname", "Dbname1", "服务器");
  EXPECT_EQ(contents(), other + "[Dbname]\nDbname1=\xB7\xFE\xCE\xF1\xC6\xF7\n");
  EXPECT_EQ(settings.readString("Dbname", "Dbname1", ""), "服务器");

  // A character that code page 936 cannot hold is refused, not mangled.
  EXPECT_THROW(settings.writeString("Dbname", "Dbname1", "😀"), SettingsWriteError);
  EXPECT_EQ(settings.readString("Dbname", "Dbname1", ""), "服务器");
}

TEST_F(SettingsFileTest, WriteNeverChangesHowOtherLinesRead) {
  // The only bytes that make this file GBK are in the value being replaced; E4 B8 AD
  // is GBK "涓" and a broken byte, but UTF-8 "中". Writing ASCII over 啊 would turn
  // the whole file into UTF-8, were it not for the comment line that keeps it GBK.
  const std::string rest = "[b]\nj=\xE4\xB8\xAD\n";
  put("[a]\nk=\xB0\xA1\n" + rest);
  SettingsFile settings(path_);
  const std::string before = read("b", "j");
  settings.writeString("a", "k", "plain");
  settings.writeString("a", "k", "again");
  const std::string marker = "; \xB1\xBE\xCE\xC4\xBC\xFE\xCE\xAA GBK \xB1\xE0\xC2\xEB\n";
  EXPECT_EQ(contents(), marker + "[a]\nk=again\n" + rest) << "one comment, added once";
  EXPECT_EQ(read("b", "j"), before);
  EXPECT_EQ(read("a", "k"), "again");

  // With nothing else outside ASCII, the same write reads the same either way.
  put("[a]\nk=\xB0\xA1\n[b]\nj=x\n");
  settings.writeString("a", "k", "plain");
  EXPECT_EQ(contents(), "[a]\nk=plain\n[b]\nj=x\n");
}

TEST_F(SettingsFileTest, RefusedWriteNamesTheFile) {
  // Root may write anywhere but below a regular file.
  put("[ServerIP]\nServerIP1=.\n");
  const fs::path blocked = path_ / "System.ini";
  SettingsFile settings(blocked);
  EXPECT_EQ(settings.readString("ServerIP", "ServerIP1", "dflt"), "dflt");
  try {
    settings.writeString("Dbname", "Dbname1", "Kvb");
    FAIL() << "the write should have been refused";
  } catch (const SettingsWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + blocked.string());
  }
}

TEST_F(SettingsFileTest, UnreadableFileIsNeitherReadNorReplaced) {
  SettingsFile settings(path_);
  EXPECT_EQ(settings.unreadableReason(), std::nullopt) << "a missing file is no fault";
  fs::create_directory(path_);
  EXPECT_EQ(settings.unreadableReason(), "it is a directory");
  EXPECT_EQ(settings.readString("ServerIP", "ServerIP1", "."), ".");
  EXPECT_THROW(settings.writeString("ServerIP", "ServerIP1", "x"), SettingsWriteError);
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(SettingsFileTest, WriteIsAtomicAndKeepsPermissionsAndLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits and symbolic links";
#else
  put("[ServerIP]\nServerIP1=.\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  const fs::path link = dir_ / "link.ini";
  fs::create_symlink(path_, link);

  SettingsFile(link).writeString("ServerIP", "ServerIP1", "srv");

  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(contents(), "[ServerIP]\nServerIP1=srv\n");
  EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"System.ini", "link.ini"})) << "no temporary left";

  // A link where the first one leads is not followed: whoever could write there
  // could point it at any file.
  const fs::path planted = dir_ / "planted.ini";
  fs::create_symlink(link, planted);
  fs::create_symlink("planted.ini", dir_ / "link-to-planted.ini");
  EXPECT_THROW(SettingsFile(dir_ / "link-to-planted.ini").writeString("ServerIP", "ServerIP1", "x"),
               SettingsWriteError);
  EXPECT_EQ(contents(), "[ServerIP]\nServerIP1=srv\n");
#endif
}

TEST_F(SettingsFileTest, TextThatWouldBreakTheFormatIsRejected) {
  put("[ServerIP]\nServerIP1=.\n");
  SettingsFile settings(path_);
  EXPECT_THROW(settings.writeString("ServerIP", "ServerIP1", "a\n[ServerPass]"),
               std::invalid_argument);
  EXPECT_THROW(settings.writeString("Server]IP", "ServerIP1", "a"), std::invalid_argument);
  EXPECT_THROW(settings.writeString("ServerIP", "Server=IP1", "a"), std::invalid_argument);
  EXPECT_THROW(settings.writeString("ServerIP", "ServerIP1", "\xB7\xFE"), std::invalid_argument);
  // Names that would not find themselves again: "[x=v]" reads as a section, and
  // names are read back trimmed.
  EXPECT_THROW(settings.writeString("ServerIP", "[x", "v]"), std::invalid_argument);
  EXPECT_THROW(settings.writeString("ServerIP", " ServerIP1", "a"), std::invalid_argument);
  EXPECT_THROW(settings.writeString("ServerIP ", "ServerIP1", "a"), std::invalid_argument);
  EXPECT_EQ(contents(), "[ServerIP]\nServerIP1=.\n");
}

}  // namespace
}  // namespace upgrade::settings
