// What the wire tests share: a TdsPeer, the real ODBC layer and FreeTDS connected to
// it with short time-outs, the ladder run over that connection, and the ladder's
// operations as the simulated database records them, in the form they take on the
// wire.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ladder.h"
#include "odbc_database.h"
#include "simulated_database.h"
#include "tds_peer.h"

namespace upgrade::testing {

// Short enough that a stall costs a second, long enough for any healthy reply.
inline odbc::OdbcDatabase::Options shortTimeouts() {
  odbc::OdbcDatabase::Options options;
  options.statementTimeout = std::chrono::seconds(1);
  return options;
}

inline db::ConnectionTarget targetFor(const TdsPeer& peer) {
  return {"127.0.0.1," + std::to_string(peer.port()), "Kvb", "sa", "secret"};
}

// A System.ini that names the peer, with the password given; the rest is defaults.
inline void writeSettingsFor(const std::filesystem::path& file, const TdsPeer& peer,
                             std::string_view password = "secret") {
  std::ofstream(file) << "[ServerIP]\nServerIP1=" << targetFor(peer).server
                      << "\n[ServerPass]\nServerPass1=" << password << "\n";
}

class OverTheWire : public ::testing::Test {
 protected:
  void SetUp() override;
  // The peer must have understood everything it was sent.
  void TearDown() override;

  TdsPeer& startPeer(TdsPeer::Options options = {});
  // Connects, runs the whole ladder, disconnects; returns the closing message.
  std::string runLadder(TdsPeer& peer);

 private:
  std::vector<std::unique_ptr<TdsPeer>> peers_;
};

// The requests a run sends for the operations the simulated database journalled: a
// batch for each text without a value, an sp_executesql call for each with values,
// a commit or rollback that begins the next transaction for each one; nothing for a
// begin. A connection adds its first begin and its last rollback around these.
std::vector<TdsRequest> wireForm(const std::vector<db::JournalEntry>& journal);

// The same ladder over the simulated database, for what the peer should receive.
std::vector<db::JournalEntry> simulatedRun(db::SimulatedDatabase::Options options);

// Compares two request lists field by field and names the first request that differs.
void expectSameRequests(const std::vector<TdsRequest>& actual,
                        const std::vector<TdsRequest>& expected);

}  // namespace upgrade::testing
