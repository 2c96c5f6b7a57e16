// Statements, parameters and results through a real ODBC driver and engine: the
// SQLite driver on a temporary database file.
#include <gtest/gtest.h>

#include "odbc_database.h"
#include "odbc_test_config.h"

namespace upgrade::odbc {
namespace {

class OdbcStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(testing::missingTestDrivers(), "");
    db_.openConnectionString(file_.connectionString(), std::chrono::seconds(15));
    db_.begin();
    db_.execute("create table t (k integer, a text, b text)", {});
  }

  std::vector<std::vector<std::string>> rows(const std::string& text) {
    return db_.query(text, {}).values;
  }

  testing::TemporaryDatabase file_;
  OdbcDatabase db_;
};

TEST_F(OdbcStatements, NamedParametersBindTextAndBooleansAndARepeatedName) {
  db_.execute("insert into t (k, a, b) values (1, :a1, :flag)",
              {{"flag", true}, {"a1", std::string("1.0.0.0.5")}});
  db_.execute("insert into t (k, a, b) values (2, :x, :x)", {{"x", std::string("twice")}});
  db_.execute("insert into t (k, a, b) values (3, :off, ':not a marker')", {{"off", false}});
  // Text that looks like SQL stays a value.
  db_.execute("insert into t (k, a) values (4, :v)", {{"v", std::string("x'); drop table t; --")}});
  db_.execute("insert into t (k, a) values (5, :empty)", {{"empty", std::string()}});

  EXPECT_EQ(rows("select a, b from t order by k"),
            (std::vector<std::vector<std::string>>{{"1.0.0.0.5", "1"},
                                                   {"twice", "twice"},
                                                   {"0", ":not a marker"},
                                                   {"x'); drop table t; --", ""},
                                                   {"", ""}}));
}

TEST_F(OdbcStatements, AMarkerWithoutAValueFailsBeforeReachingTheDriver) {
  try {
    db_.execute("update t set a=:a1 where b=:b1", {{"a1", std::string("v")}});
    FAIL() << "expected a DatabaseError";
  } catch (const db::DatabaseError& e) {
    EXPECT_STREQ(e.what(), "No value was given for the parameter :b1");
  }
}

TEST_F(OdbcStatements, QueriesReturnColumnNamesEveryRowAndNullAsEmptyText) {
  db_.execute("insert into t (k, a, b) values (1, 'one', null)", {});
  db_.execute("insert into t (k, a, b) values (2, null, 'two')", {});
  db_.execute("insert into t (k, a, b) values (3, '', '')", {});

  const db::Rows result = db_.query("select k, a, b from t order by k", {});
  EXPECT_EQ(result.columns, (std::vector<std::string>{"k", "a", "b"}));
  EXPECT_EQ(result.values, (std::vector<std::vector<std::string>>{
                               {"1", "one", ""}, {"2", "", "two"}, {"3", "", ""}}));

  const db::Rows none = db_.query("select a from t where k = 99", {});
  EXPECT_EQ(none.columns, std::vector<std::string>{"a"});
  EXPECT_TRUE(none.values.empty());
}

TEST_F(OdbcStatements, AnUpdateOrDeleteThatTouchesNoRowSucceeds) {
  // ODBC reports "no data" for these; it is not a failure.
  db_.execute("update t set a=:a1", {{"a1", std::string("1.0.0.0.1")}});
  db_.execute("delete from t where k = 1", {});
  EXPECT_TRUE(rows("select * from t").empty());
}

TEST_F(OdbcStatements, StatementTextsAreSentWithTheirLineBreaks) {
  // Continued statements end every line with CR LF, the last one included.
  db_.execute("insert into t (k, a)\r\nvalues (1, 'x')\r\n", {});
  EXPECT_EQ(rows("select\r\na from t\r\n"), (std::vector<std::vector<std::string>>{{"x"}}));
}

TEST_F(OdbcStatements, ChineseTextSurvivesStatementTextParametersAndNames) {
  db_.execute("create table 消费明细 (名称 text, 说明 text)", {});
  db_.execute("insert into 消费明细 (名称, 说明) values ('无折扣', :v)",
              {{"v", std::string("洗浴类·客房「特价」")}});

  const db::Rows result = db_.query("select 名称, 说明 from 消费明细 where 名称 = '无折扣'", {});
  EXPECT_EQ(result.columns, (std::vector<std::string>{"名称", "说明"}));
  EXPECT_EQ(result.values,
            (std::vector<std::vector<std::string>>{{"无折扣", "洗浴类·客房「特价」"}}));
  // And as a bound value in a condition.
  EXPECT_EQ(db_.query("select count(*) from 消费明细 where 说明 = :v",
                      {{"v", std::string("洗浴类·客房「特价」")}})
                .values,
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(OdbcStatements, LongValuesComeBackWhole) {
  // Far longer than one read piece, with characters of one, two and three UTF-8
  // bytes, so that pieces end in the middle of the text.
  std::string value;
  for (int i = 0; value.size() < 200000; ++i) {
    value += "会员卡-" + std::to_string(i) + "-é;";
  }
  db_.execute("insert into t (k, a) values (1, :v)", {{"v", value}});
  const auto result = rows("select a, length(a) from t");
  ASSERT_EQ(result.size(), 1U);
  EXPECT_EQ(result[0][0].size(), value.size());
  EXPECT_TRUE(result[0][0] == value);
}

TEST_F(OdbcStatements, DriverErrorsCarryTheDriversMessage) {
  try {
    db_.query("select * from no_such_table", {});
    FAIL() << "expected a DatabaseError";
  } catch (const db::DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("no such table: no_such_table"), std::string::npos)
        << e.what();
  }
  try {
    db_.execute("this is not sql", {});
    FAIL() << "expected a DatabaseError";
  } catch (const db::DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
  }
  // The connection is still usable afterwards.
  db_.execute("insert into t (k) values (1)", {});
  EXPECT_EQ(rows("select count(*) from t"), (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST(OdbcConnection, UsingAClosedDatabaseFailsClearly) {
  OdbcDatabase db;
  EXPECT_FALSE(db.isOpen());
  EXPECT_THROW(db.begin(), db::DatabaseError);
  EXPECT_THROW(db.execute("select 1", {}), db::DatabaseError);
  EXPECT_THROW(db.query("select 1", {}), db::DatabaseError);
  EXPECT_THROW(db.commit(), db::DatabaseError);
  db.close();  // closing twice is harmless
  EXPECT_FALSE(db.isOpen());
}

TEST(OdbcConnection, AnUnknownDriverFailsWithTheDriverManagersMessage) {
  OdbcDatabase db;
  try {
    db.openConnectionString("Driver={No Such Driver};Database={x}", std::chrono::seconds(5));
    FAIL() << "expected a DatabaseError";
  } catch (const db::DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("[unixODBC]"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(db.isOpen());
}

}  // namespace
}  // namespace upgrade::odbc
