// Placeholder until the ODBC layer lands: every open fails, so start-up takes its
// fallback path.
#include "odbc_database.h"

namespace upgrade {

struct OdbcDatabase::Impl {};

OdbcDatabase::OdbcDatabase() = default;
OdbcDatabase::~OdbcDatabase() = default;
void OdbcDatabase::open(const ConnectionTarget&, std::chrono::seconds) {
  throw DatabaseError("ODBC is not available in this build");
}
void OdbcDatabase::close() noexcept {}
bool OdbcDatabase::isOpen() const noexcept { return false; }
void OdbcDatabase::begin() { throw DatabaseError("not connected"); }
void OdbcDatabase::commit() { throw DatabaseError("not connected"); }
void OdbcDatabase::rollback() { throw DatabaseError("not connected"); }
bool OdbcDatabase::transactionActive() { return false; }
void OdbcDatabase::execute(const std::string&, const Params&) { throw DatabaseError("not connected"); }
Rows OdbcDatabase::query(const std::string&, const Params&) { throw DatabaseError("not connected"); }

}  // namespace upgrade
