#include "server_listing.h"

namespace upgrade {

std::vector<std::string> listVisibleSqlServers() {
  // The SQL Server Browser listing is wired here. Until it is, the list stays
  // empty and the operator types the server's name.
  return {};
}

}  // namespace upgrade
