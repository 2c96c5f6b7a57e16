// The preview tool from outside: what ladder-transcript prints for a few steps,
// compared with transcripts written by hand, and that it walks a database at any
// version of the ladder to the newest one.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "ladder.h"

namespace upgrade::ladder {
namespace {

#ifdef _WIN32
// popen runs cmd.exe /c, which takes double quotes (none of the arguments holds one)
// and removes the first and the last quote of the whole line, hence one more pair.
std::string shellQuoted(const std::string& arg) {
  return '"' + arg + '"';
}
std::string shellLine(const std::string& command) {
  return '"' + command + '"';
}
#else
std::string shellQuoted(const std::string& arg) {
  std::string out = "'";
  for (const char c : arg) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}
std::string shellLine(const std::string& command) {
  return command;
}
#endif

// The tool's output, one element per line.
std::vector<std::string> transcript(const std::vector<std::string>& args) {
  std::string command = shellQuoted(LADDER_TRANSCRIPT);
  for (const auto& arg : args) {
    command += ' ' + shellQuoted(arg);
  }
  std::FILE* pipe = ::popen(shellLine(command).c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot start " << command;
    return {};
  }
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
    out.append(buf, n);
  }
  EXPECT_EQ(::pclose(pipe), 0) << command;
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    if (end == std::string::npos) {
      end = out.size();
    }
    lines.push_back(out.substr(start, end - start));
  }
  return lines;
}

// The lines of the given ladder row's transaction, from its begin to its end.
std::vector<std::string> transactionOfRow(const std::vector<std::string>& lines, size_t row) {
  std::vector<std::string> out;
  size_t begun = 0;
  for (const auto& line : lines) {
    if (line == R"({"op":"begin"})") {
      ++begun;
    }
    if (begun == row && line.rfind(R"({"op":"message")", 0) != 0) {
      out.push_back(line);
    }
  }
  return out;
}

std::vector<std::string> golden(const std::string& name) {
  std::ifstream in(std::string(GOLDEN_DIR) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

struct GoldenCase {
  std::string name;
  std::vector<std::string> args;
  size_t row;  // of the ladder, counted from 1
  std::string file;
};

void PrintTo(const GoldenCase& c, std::ostream* os) {
  *os << c.name;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, StepTransactionMatchesTheHandWrittenTranscript) {
  const auto& c = GetParam();
  EXPECT_EQ(transactionOfRow(transcript(c.args), c.row), golden(c.file));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Golden,
    ::testing::Values(
        // Continued statements, Chinese names, blanks at the end of a text.
        GoldenCase{"Continued", {"--version", "1.0.0.0.0"}, 1, "step_1.0.0.0.0.jsonl"},
        GoldenCase{
            "ContinuedWithDoubledBlank", {"--version", "1.0.0.0.13"}, 15, "step_1.0.0.0.13.jsonl"},
        // A boolean bound to the same parameter name as the version update's text.
        GoldenCase{"BoundBoolean", {"--version", "1.0.0.0.8"}, 10, "step_1.0.0.0.8.jsonl"},
        // A tolerated failure: checked against the server, then the step goes on.
        GoldenCase{"ToleratedFailure",
                   {"--version", "1.0.0.0.17", "--fail", "PRIMARY KEY(pkid)"},
                   19,
                   "step_1.0.0.0.17_key_fails.jsonl"},
        GoldenCase{"EnsureWithoutRow", {"--version", "1.0.0.0.2"}, 3, "ensure_step_no_row.jsonl"},
        GoldenCase{"EnsureWithTwoRows",
                   {"--version", "1.0.0.0.2", "--xmlb-rows", "2"},
                   3,
                   "ensure_step_two_rows.jsonl"}),
    [](const ::testing::TestParamInfo<GoldenCase>& param) { return param.param.name; });

TEST(Transcript, EveryVersionOfTheLadderEndsAtTheNewestWithSuccess) {
  std::set<std::string_view> preconditions;
  for (const auto& step : ladderSteps()) {
    preconditions.insert(step.precondition);
  }
  ASSERT_EQ(preconditions.size(), 31u);
  for (const auto version : preconditions) {
    SCOPED_TRACE(std::string(version));
    const auto lines = transcript({"--version", std::string(version)});
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), R"({"op":"message","title":"提示信息","text":"升级成功！"})");
    std::string lastWrite;
    for (const auto& line : lines) {
      EXPECT_EQ(line.find(R"("failed":true)"), std::string::npos) << line;
      if (line.find(R"("text":"update ver set ver1=:a1\r\n")") != std::string::npos) {
        lastWrite = line;
      }
    }
    EXPECT_NE(lastWrite.find(R"("params":{"a1":"1.0.0.0.31"})"), std::string::npos);
  }
}

TEST(Transcript, TheNewestVersionOnlyReadsTheVersionThirtyTwoTimes) {
  const auto lines = transcript({"--version", "1.0.0.0.31"});
  std::vector<std::string> expected;
  for (int i = 0; i < 32; ++i) {
    expected.insert(expected.end(),
                    {R"({"op":"begin"})", R"({"op":"open","text":"select * from ver\r\n"})",
                     R"({"op":"commit"})"});
  }
  expected.emplace_back(R"({"op":"message","title":"提示信息","text":"升级成功！"})");
  EXPECT_EQ(lines, expected);
}

TEST(Transcript, AFailedStepEndsWithItsMessageAfterTheRollback) {
  const auto lines = transcript({"--version", "1.0.0.0.20", "--fail", "DROP COLUMN zkmxcode"});
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], R"({"op":"rollback"})");
  EXPECT_EQ(lines.back(),
            R"({"op":"message","title":"提示信息","text":"向V1.0.0.0.21升级时失败！"})");
}

}  // namespace
}  // namespace upgrade::ladder
