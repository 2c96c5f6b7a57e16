// The shape of what every step sends on a full run from "1.0.0.0.0": how many
// statements, which of them are continued or bound, and the details a slip in
// copying a statement would break (line breaks, blanks, quoted values).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

#include "ladder_journal.h"

namespace upgrade::ladder {
namespace {

using testing::bodyOf;
using testing::LadderRun;
using testing::transactions;
using Kind = db::JournalEntry::Kind;

// Statements per ladder row, without the version update. Row 3 is the ensure step:
// its query and, with no matching row, its insert.
constexpr std::array<size_t, 32> kStatementCounts{
    11, 4, 2, 1, 1, 12, 10, 1,     // 1.0.0.0.0 to 1.0.0.0.6
    3,  5, 3, 8, 9, 2,             // 1.0.0.0.7 to 1.0.0.0.12
    8,  2, 2, 1, 2, 2,  8,  8, 3,  // 1.0.0.0.13 to 1.0.0.0.21
    2,  1, 1, 1, 9, 1,  5,  4, 6,  // 1.0.0.0.22 to 1.0.0.0.30
};

// (ladder row, statement) pairs, both counted from 1.
using Position = std::pair<size_t, size_t>;

// One full run from "1.0.0.0.0", shared by the tests that only read it.
class FullRun : public ::testing::Test {
 protected:
  struct Data {
    LadderRun run{{}};
    std::vector<testing::Transaction> rows = transactions(run.db.journal());
  };
  static const Data& data() {
    static const Data d;
    return d;
  }
  static const std::vector<testing::Transaction>& rows() { return data().rows; }
  // Every body statement of the run, by position.
  static std::map<Position, db::JournalEntry> statements() {
    std::map<Position, db::JournalEntry> out;
    for (size_t row = 0; row < rows().size(); ++row) {
      const auto body = bodyOf(rows()[row]);
      for (size_t i = 0; i < body.size(); ++i) {
        out.emplace(Position{row + 1, i + 1}, body[i]);
      }
    }
    return out;
  }
  static std::string text(size_t row, size_t statement) {
    return bodyOf(rows().at(row - 1)).at(statement - 1).text;
  }
};

TEST_F(FullRun, EveryStepSendsItsStatementsAndThenItsVersionUpdate) {
  ASSERT_EQ(rows().size(), 32u);
  EXPECT_EQ(data().run.outcome.kind, RunOutcome::Kind::Upgraded);
  EXPECT_EQ(data().run.db.version(), "1.0.0.0.31");
  size_t total = 0;
  for (size_t row = 0; row < 32; ++row) {
    const auto& tx = rows()[row];
    ASSERT_GE(tx.size(), 4u) << "row " << row + 1;
    EXPECT_EQ(bodyOf(tx).size(), kStatementCounts[row]) << "row " << row + 1;
    total += bodyOf(tx).size();
    const auto& update = tx[tx.size() - 2];
    EXPECT_EQ(update.text, "update ver set ver1=:a1\r\n") << "row " << row + 1;
    ASSERT_EQ(update.params.size(), 1u);
    EXPECT_EQ(update.params[0].value, db::ParamValue(std::string(ladderSteps()[row].next)));
    EXPECT_EQ(tx.back().kind, Kind::Commit);
  }
  EXPECT_EQ(total, 138u);
}

TEST_F(FullRun, OnlyTheKtzUpdateBindsAValueOfItsOwnAndItIsABoolean) {
  std::vector<Position> bound;
  for (const auto& [pos, entry] : statements()) {
    if (!entry.params.empty() || entry.text.find(':') != std::string::npos) {
      bound.push_back(pos);
    }
  }
  ASSERT_EQ(bound, (std::vector<Position>{{10, 2}}));  // step 1.0.0.0.8
  const auto ktz = statements().at({10, 2});
  EXPECT_EQ(ktz.text, "update hy set Ktz=:a1\r\n");
  ASSERT_EQ(ktz.params.size(), 1u);
  EXPECT_EQ(ktz.params[0].name, "a1");
  EXPECT_EQ(ktz.params[0].value, db::ParamValue(false));
}

TEST_F(FullRun, OnlyTheEnsureStepReadsAndItInsertsWhatItLookedFor) {
  for (const auto& [pos, entry] : statements()) {
    EXPECT_EQ(entry.kind, (pos == Position{3, 1}) ? Kind::Open : Kind::Execute);
  }
  EXPECT_EQ(text(3, 1), "select * from xmlb where kinid='XYL' and Parent='XMFL'\r\n");
  EXPECT_EQ(text(3, 2),
            "Insert into xmlb(kinid,kindname,Parent,sign,leve,SRemark) "
            "values('XYL','洗浴类','XMFL','0',0,'XYL')\r\n");
}

TEST(EnsureStep, LeavesAnExistingCategoryAloneAndStillRewritesTheVersion) {
  for (const int existing : {1, 2}) {
    LadderRun run({.version = "1.0.0.0.2", .xmlbRows = existing});
    const auto ensure = transactions(run.db.journal()).at(2);
    ASSERT_EQ(bodyOf(ensure).size(), 1u) << existing;
    EXPECT_EQ(bodyOf(ensure)[0].kind, Kind::Open);
    EXPECT_EQ(ensure[ensure.size() - 2].params.at(0).value,
              db::ParamValue(std::string("1.0.0.0.2")));
    EXPECT_EQ(run.db.xmlbRows(), existing);
    EXPECT_EQ(run.outcome.kind, RunOutcome::Kind::Upgraded);
  }
}

// The single quotes of a statement, read as SQL literals: each opens after '=',
// '(', ',' or a blank, ends before ',', ')', a blank or the line break, and doubles
// any quote inside. Returns the values, or nothing when a quote is out of place.
std::optional<std::vector<std::string>> quotedValues(std::string_view text) {
  std::vector<std::string> values;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\'') {
      continue;
    }
    if (i == 0 || std::string_view("=(, ").find(text[i - 1]) == std::string_view::npos) {
      return std::nullopt;
    }
    std::string value;
    for (++i;; ++i) {
      if (i >= text.size() || text[i] == '\r' || text[i] == '\n') {
        return std::nullopt;
      }
      if (text[i] == '\'') {
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          value += '\'';
          ++i;
          continue;
        }
        break;
      }
      value += text[i];
    }
    if (i + 1 >= text.size() ||
        std::string_view(",) \r").find(text[i + 1]) == std::string_view::npos) {
      return std::nullopt;
    }
    values.push_back(value);
  }
  return values;
}

TEST(QuotedValues, ReaderRejectsStrayQuotes) {
  EXPECT_EQ(quotedValues("a='it''s' and b='x'\r\n"), (std::vector<std::string>{"it's", "x"}));
  EXPECT_FALSE(quotedValues("values('a,'b')\r\n"));
  EXPECT_FALSE(quotedValues("where a='x\r\n"));
  EXPECT_FALSE(quotedValues("don't\r\n"));
}

TEST_F(FullRun, EveryQuotedValueIsAWellFormedLiteral) {
  std::set<std::string> values;
  for (const auto& [pos, entry] : statements()) {
    const auto found = quotedValues(entry.text);
    ASSERT_TRUE(found) << "row " << pos.first << " statement " << pos.second << ": " << entry.text;
    values.insert(found->begin(), found->end());
  }
  EXPECT_EQ(values, (std::set<std::string>{"Admin",
                                           "0000",
                                           "0001",
                                           "无折扣",
                                           "NORMAL",
                                           "VIP",
                                           "XYL",
                                           "XMFL",
                                           "洗浴类",
                                           "0",
                                           "*",
                                           "客户证件类型",
                                           "押金管理备注",
                                           "0000000000",
                                           "KFDJ",
                                           "消费退单备注",
                                           "取消客房备注",
                                           "更换客房备注",
                                           "%浴资%",
                                           "挂账",
                                           "次卡",
                                           "06",
                                           "07",
                                           "启用"}));
}

TEST_F(FullRun, ContinuedStatementsAreTheOnlyOnesWithMoreThanOneLine) {
  const std::map<Position, size_t> continued{
      {{1, 1}, 3},  {{2, 2}, 2}, {{2, 3}, 2}, {{6, 2}, 2}, {{6, 4}, 2},  {{6, 5}, 2},
      {{6, 12}, 2}, {{7, 4}, 2}, {{9, 1}, 2}, {{9, 2}, 2}, {{15, 3}, 2}, {{31, 2}, 2},
  };
  for (const auto& [pos, entry] : statements()) {
    const auto& t = entry.text;
    size_t lines = 0;
    for (size_t at = t.find("\r\n"); at != std::string::npos; at = t.find("\r\n", at + 2)) {
      ++lines;
    }
    const auto it = continued.find(pos);
    EXPECT_EQ(lines, it == continued.end() ? size_t{1} : it->second)
        << "row " << pos.first << " statement " << pos.second;
    // Every line, the last included, ends with CR LF and holds no other break.
    EXPECT_EQ(t.substr(t.size() - 2), "\r\n");
    EXPECT_EQ(std::count(t.begin(), t.end(), '\r'), std::count(t.begin(), t.end(), '\n'));
  }
  // Where the breaks fall, for a few of them.
  EXPECT_NE(text(1, 1).find("bmwh=1\r\n,spsz=1"), std::string::npos);
  EXPECT_NE(text(1, 1).find("xtcsh=1\r\n where Usercode='Admin'\r\n"), std::string::npos);
  EXPECT_NE(text(15, 3).find("Sjbmin int\r\n,SJbfee float"), std::string::npos);
  EXPECT_NE(text(31, 2).find("skrj datetime \r\n,skr varchar(50)"), std::string::npos);
  EXPECT_NE(text(9, 2).find("FKlsjbsj datetime,\r\nFKlsrj"), std::string::npos);
}

TEST_F(FullRun, BlanksAtLineEndsAndDoubledBlanksAreSentAsWritten) {
  const std::set<Position> lineEndsInBlank{{1, 9}, {1, 10}, {2, 2},  {7, 3},
                                           {7, 4}, {10, 4}, {11, 2}, {31, 2}};
  const std::map<Position, size_t> doubledBlanks{
      {{6, 2}, 1},  {{6, 4}, 1},  {{6, 5}, 1},  {{15, 3}, 1}, {{22, 1}, 1}, {{22, 5}, 1},
      {{25, 1}, 1}, {{26, 1}, 1}, {{27, 1}, 1}, {{28, 1}, 1}, {{28, 2}, 1}, {{28, 3}, 1},
      {{28, 4}, 1}, {{28, 9}, 1}, {{30, 1}, 1}, {{30, 2}, 2}, {{31, 4}, 1}, {{32, 1}, 1},
  };
  for (const auto& [pos, entry] : statements()) {
    const auto& t = entry.text;
    EXPECT_EQ(t.find(" \r\n") != std::string::npos, lineEndsInBlank.count(pos) == 1)
        << "row " << pos.first << " statement " << pos.second;
    EXPECT_EQ(t.find("   "), std::string::npos);
    size_t doubled = 0;
    for (size_t at = t.find("  "); at != std::string::npos; at = t.find("  ", at + 2)) {
      ++doubled;
    }
    const auto it = doubledBlanks.find(pos);
    EXPECT_EQ(doubled, it == doubledBlanks.end() ? size_t{0} : it->second)
        << "row " << pos.first << " statement " << pos.second;
  }
  EXPECT_EQ(text(1, 9), "Delete from 折扣明细 \r\n");
  EXPECT_EQ(text(22, 1), "ALTER TABLE zkmx  DROP COLUMN zkmxcode\r\n");
  EXPECT_EQ(text(30, 2), "ALTER TABLE lbxf  DROP constraint  Pkid\r\n");
}

TEST_F(FullRun, TheChargeToAccountPaymentKindComesBeforeTheCountedCard) {
  EXPECT_NE(text(32, 5).find("'挂账',6,'06'"), std::string::npos);
  EXPECT_NE(text(32, 6).find("'次卡',7,'07'"), std::string::npos);
}

}  // namespace
}  // namespace upgrade::ladder
