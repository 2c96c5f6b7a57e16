// 200 full runs of the ladder over the wire in one process, real unixODBC and FreeTDS
// against the pretend server on 127.0.0.1, each on a connection of its own (open,
// ladder, close) as Update makes it. The peer keeps its committed version and every
// request it was sent for its whole life, and has no reset, so each run gets a fresh
// peer starting at 1.0.0.0.0; one peer is alive at a time. At checkpoints it prints
// the open descriptors, resident memory and the mean time of a run since the last
// checkpoint: flat figures mean nothing is kept from one connection to the next.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <string>

#include "ladder.h"
#include "odbc_database.h"
#include "odbc_test_config.h"
#include "process_figures.h"
#include "tds_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
using upgrade::testing::TdsPeer;

// Returns what went wrong, or nothing when the run reached the last version.
std::string runOnce(std::chrono::nanoseconds& spent) {
  TdsPeer peer;
  const upgrade::db::ConnectionTarget target{"127.0.0.1," + std::to_string(peer.port()), "Kvb",
                                             "sa", "secret"};
  upgrade::ladder::RunOutcome outcome;
  const auto start = Clock::now();
  try {
    upgrade::odbc::OdbcDatabase db;
    db.open(target, std::chrono::seconds(15));
    upgrade::ladder::StepQuery query(db);
    outcome = upgrade::ladder::runLadder(db, query);
    db.close();
  } catch (const std::exception& e) {
    return std::string("could not connect: ") + e.what();
  }
  spent += Clock::now() - start;

  std::string problem;
  for (const auto& violation : peer.violations()) {
    problem += "the peer did not understand: " + violation + "\n";
  }
  if (outcome.kind != upgrade::ladder::RunOutcome::Kind::Upgraded) {
    problem += "closing message \"" + upgrade::ladder::closingMessage(outcome).text + "\"\n";
  }
  if (peer.committedVersion() != upgrade::ladder::kLastVersion) {
    problem += "ended at " + peer.committedVersion().value_or("(no version)") + "\n";
  }
  return problem;
}

}  // namespace

int main() {
  if (const std::string missing = upgrade::testing::missingTestDrivers(); !missing.empty()) {
    std::fprintf(stderr, "wire soak: %s\n", missing.c_str());
    return 1;
  }
  constexpr int kRuns = 200;
  constexpr std::array kCheckpoints{1, 10, 50, 100, 150, 200};

  std::printf("wire soak: %d ladder runs from 1.0.0.0.0 over FreeTDS, a fresh peer each\n", kRuns);
  std::printf("%10s %10s %12s %16s\n", "runs", "open fds", "RSS KiB", "ms per run");
  std::printf("%10s %10zu %12zu %16s\n", "before", soak::openDescriptors(), soak::residentKiB(),
              "-");
  std::chrono::nanoseconds spent{0};
  int since = 0;
  std::size_t next = 0;
  for (int run = 1; run <= kRuns; ++run) {
    if (const std::string problem = runOnce(spent); !problem.empty()) {
      std::fprintf(stderr, "wire soak: run %d did not end with the last version:\n%s", run,
                   problem.c_str());
      return 1;
    }
    if (run == kCheckpoints.at(next)) {
      const double ms = std::chrono::duration<double, std::milli>(spent).count() / (run - since);
      std::printf("%10d %10zu %12zu %16.1f\n", run, soak::openDescriptors(), soak::residentKiB(),
                  ms);
      spent = {};
      since = run;
      ++next;
    }
  }
  return 0;
}
