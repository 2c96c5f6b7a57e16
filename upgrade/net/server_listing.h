// The SQL Servers visible from this machine, for the server list of the connection
// dialog.
#pragma once

#include <string>
#include <vector>

namespace upgrade::net {

// The server names to offer, in a fixed order; empty when none can be found. May
// throw: the dialog then leaves its list empty. Bounded in time, since it runs
// while the dialog is being created behind the busy pointer.
[[nodiscard]] std::vector<std::string> listVisibleSqlServers();

}  // namespace upgrade::net
