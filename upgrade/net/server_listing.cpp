#include "server_listing.h"

#include <chrono>

#include "ssrp.h"

namespace upgrade::net {

std::vector<std::string> listVisibleSqlServers() {
  // Every SQL Server Browser on the local network answers one broadcast request.
  // Silence is normal (no server, or a firewall), so the window only needs to
  // cover a LAN's round trip and a slow Browser; the dialog waits this long behind
  // the busy pointer.
  using namespace std::chrono_literals;
  return ssrp::listSqlServers(1500ms);
}

}  // namespace upgrade::net
