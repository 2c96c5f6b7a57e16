// The ODBC layer as the Windows build links it, against odbc32: a connection that no
// driver can make fails with DatabaseError and leaves the database closed, whether
// the driver manager lacks the driver (Windows) or cannot reach any (Wine without a
// host driver manager).
#include <gtest/gtest.h>

#include "odbc_database.h"

namespace upgrade::odbc {
namespace {

using namespace std::chrono_literals;

TEST(OdbcWithoutADriver, FailsToConnectAndStaysClosed) {
  OdbcDatabase db;
  EXPECT_THROW(db.openConnectionString("Driver={No driver of this name};Server=127.0.0.1,1;", 5s),
               db::DatabaseError);
  EXPECT_FALSE(db.isOpen());
  EXPECT_THROW(db.execute("select 1", {}), db::DatabaseError);
  EXPECT_THROW(db.begin(), db::DatabaseError);
}

}  // namespace
}  // namespace upgrade::odbc
