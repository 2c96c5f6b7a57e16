// The step query's text and parameter handling, which the byte-exact statement
// texts depend on.
#include <gtest/gtest.h>

#include "simulated_database.h"
#include "statements.h"
#include "step_query.h"

namespace upgrade::ladder {
namespace {

class StepQueryTest : public ::testing::Test {
 protected:
  StepQueryTest() { db.open({}, std::chrono::seconds(1)); }
  const db::JournalEntry& last() const { return db.journal().back(); }

  db::SimulatedDatabase db;
  StepQuery q{db};
};

TEST_F(StepQueryTest, ReadTextEndsEveryLineWithCrLf) {
  q.setText("a");
  EXPECT_EQ(q.readText(), "a\r\n");
  q.addLine("b");
  EXPECT_EQ(q.readText(), "a\r\nb\r\n");
  q.clear();
  EXPECT_EQ(q.readText(), "");
}

TEST_F(StepQueryTest, SetTextSplitsAtAnyLineBreakWithoutAddingAnEmptyLastLine) {
  q.setText("a\r\nb\nc\rd\r\n");
  EXPECT_EQ(q.readText(), "a\r\nb\r\nc\r\nd\r\n");
  q.setText("a\r\n\r\n");
  EXPECT_EQ(q.readText(), "a\r\n\r\n");
  q.setText("trailing blank ");
  EXPECT_EQ(q.readText(), "trailing blank \r\n");
}

TEST_F(StepQueryTest, ContinuedStatementIsOneCommandBrokenExactlyBetweenPieces) {
  Body(q).continued({"first ", " second", "third"});
  ASSERT_EQ(db.journal().size(), 1u);
  EXPECT_EQ(last().kind, db::JournalEntry::Kind::Execute);
  EXPECT_EQ(last().text, "first \r\n second\r\nthird\r\n");
}

TEST_F(StepQueryTest, PlainStatementAndSingleAddedLineSendTheSameText) {
  Body(q).plain("Drop table 消费明细");
  const std::string viaSetText = last().text;
  q.close();
  q.clear();
  q.addLine("Drop table 消费明细");
  q.execute();
  EXPECT_EQ(last().text, viaSetText);
  EXPECT_EQ(viaSetText, "Drop table 消费明细\r\n");
}

TEST_F(StepQueryTest, ParametersAreRecognisedAnewWhenTheTextChanges) {
  q.addLine("update ver set ver1=:a1");
  q.setParameter("A1", std::string("x"));  // names match without regard to case
  q.setText("update hy set Ktz=:a1");
  // The value set for the old text is gone with it.
  EXPECT_THROW(q.execute(), db::DatabaseError);
  q.setParameter("a1", false);
  q.execute();
  ASSERT_EQ(last().params.size(), 1u);
  EXPECT_EQ(last().params[0].name, "a1");
  EXPECT_EQ(std::get<bool>(last().params[0].value), false);
  EXPECT_THROW(q.setParameter("a2", true), db::DatabaseError);
}

TEST_F(StepQueryTest, FieldAsTextIgnoresCaseAndReadsAMissingRowAsEmpty) {
  q.addLine("select * from ver");
  q.open();
  EXPECT_EQ(q.fieldAsText("VER1"), "1.0.0.0.0");
  EXPECT_EQ(q.rowCount(), 1);
  EXPECT_THROW((void)q.fieldAsText("nosuch"), db::DatabaseError);

  db::SimulatedDatabase empty({.version = std::nullopt});
  empty.open({}, std::chrono::seconds(1));
  StepQuery eq(empty);
  eq.addLine("select * from ver");
  eq.open();
  EXPECT_EQ(eq.rowCount(), 0);
  EXPECT_EQ(eq.fieldAsText("ver1"), "");
  eq.close();
  EXPECT_THROW((void)eq.rowCount(), db::DatabaseError);
}

TEST_F(StepQueryTest, RowCountCostsNoMemoryPerRow) {
  // The ensure step only counts xmlb's rows; a count near INT_MAX must not build them.
  db::SimulatedDatabase many({.xmlbRows = 1'000'000});
  many.open({}, std::chrono::seconds(1));
  const db::Rows rows = many.query("select * from xmlb where kinid='XYL'", {});
  EXPECT_LE(rows.values.size(), 1u);
  StepQuery mq(many);
  mq.addLine("select * from xmlb where kinid='XYL'");
  mq.open();
  EXPECT_EQ(mq.rowCount(), 1'000'000);
  EXPECT_EQ(mq.fieldAsText("kinid"), "XYL");
}

TEST(QuotedValue, WrapsInSingleQuotesAndDoublesInnerQuotes) {
  EXPECT_EQ(quoted("Admin"), "'Admin'");
  EXPECT_EQ(quoted(""), "''");
  EXPECT_EQ(quoted("O'Brien"), "'O''Brien'");
  EXPECT_EQ(quoted("''"), "''''''");
  EXPECT_EQ(quoted("%浴资%"), "'%浴资%'");
}

}  // namespace
}  // namespace upgrade::ladder
