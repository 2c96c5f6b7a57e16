// Transactions through a real ODBC driver and engine (the SQLite driver): what an
// upgrade step relies on. Every check reads back through a second connection, so
// it sees only what was committed.
#include <gtest/gtest.h>

#include "odbc_database.h"
#include "odbc_test_config.h"

namespace upgrade::odbc {
namespace {

using Table = std::vector<std::vector<std::string>>;

class OdbcTransactions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(testing::missingTestDrivers(), "");
    db_.openConnectionString(file_.connectionString(), std::chrono::seconds(15));
  }

  // What a later run would find: a fresh connection after this one has let go.
  Table committed(const std::string& text) {
    db_.close();
    OdbcDatabase other;
    other.openConnectionString(file_.connectionString(), std::chrono::seconds(15));
    return other.query(text, {}).values;
  }

  testing::TemporaryDatabase file_;
  OdbcDatabase db_;
};

TEST_F(OdbcTransactions, ACommitPersists) {
  db_.begin();
  db_.execute("create table ver (ver1 varchar(20))", {});
  db_.execute("insert into ver (ver1) values ('1.0.0.0.0')", {});
  db_.commit();
  db_.begin();
  db_.execute("update ver set ver1=:a1", {{"a1", std::string("1.0.0.0.1")}});
  db_.commit();

  EXPECT_EQ(committed("select * from ver"), (Table{{"1.0.0.0.1"}}));
}

TEST_F(OdbcTransactions, ARollbackUndoesTablesAndRows) {
  db_.begin();
  db_.execute("create table ver (ver1 varchar(20))", {});
  db_.execute("insert into ver (ver1) values ('1.0.0.0.0')", {});
  db_.commit();

  db_.begin();
  db_.execute("create table Bzlb (id int)", {});
  db_.execute("insert into Bzlb (id) values (1)", {});
  db_.execute("update ver set ver1=:a1", {{"a1", std::string("1.0.0.0.1")}});
  EXPECT_EQ(db_.query("select ver1 from ver", {}).values, (Table{{"1.0.0.0.1"}}));
  db_.rollback();

  // The same connection goes on from the committed state...
  db_.begin();
  EXPECT_EQ(db_.query("select ver1 from ver", {}).values, (Table{{"1.0.0.0.0"}}));
  db_.commit();
  // ...and so does a later one: neither the table nor the row remains.
  EXPECT_EQ(committed("select count(*) from sqlite_master where name = 'Bzlb'"), (Table{{"0"}}));
}

TEST_F(OdbcTransactions, AFailedStatementCanBeToleratedAndTheRestCommits) {
  db_.begin();
  db_.execute("create table xfxm (id int primary key, name text)", {});
  db_.execute("insert into xfxm values (1, 'a')", {});
  // A tolerant statement that fails: here a duplicate key, as when a step adds a
  // row that an earlier run already added.
  EXPECT_THROW(db_.execute("insert into xfxm values (1, 'again')", {}), db::DatabaseError);
  EXPECT_THROW(db_.execute("alter table no_such_table add c int", {}), db::DatabaseError);
  db_.execute("insert into xfxm values (2, 'b')", {});
  db_.commit();

  EXPECT_EQ(committed("select id, name from xfxm order by id"), (Table{{"1", "a"}, {"2", "b"}}));
}

TEST_F(OdbcTransactions, ClosingWithoutCommitRollsBack) {
  db_.begin();
  db_.execute("create table ver (ver1 varchar(20))", {});
  db_.commit();
  db_.begin();
  db_.execute("insert into ver (ver1) values ('1.0.0.0.9')", {});
  db_.close();
  EXPECT_FALSE(db_.isOpen());

  EXPECT_EQ(committed("select count(*) from ver"), (Table{{"0"}}));
}

TEST_F(OdbcTransactions, EachStepIsItsOwnTransaction) {
  // Three transactions in a row on one connection, the middle one rolled back, as
  // the ladder does when a step fails after earlier ones were committed.
  db_.begin();
  db_.execute("create table log (n int)", {});
  db_.execute("insert into log values (1)", {});
  db_.commit();
  db_.begin();
  db_.execute("insert into log values (2)", {});
  db_.rollback();
  db_.begin();
  db_.execute("insert into log values (3)", {});
  db_.commit();

  EXPECT_EQ(committed("select n from log order by n"), (Table{{"1"}, {"3"}}));
}

}  // namespace
}  // namespace upgrade::odbc
