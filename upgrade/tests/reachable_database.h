// The simulated server reachable only under one server name, so that a test can tell
// the stored settings' connection from the dialog's: every other call goes through
// to it. Each attempt to open is kept with its time-out, and shown to onOpen first.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "simulated_database.h"

namespace upgrade::testing {

class ReachableAs final : public db::Database {
 public:
  ReachableAs(db::SimulatedDatabase& inner, std::string server)
      : inner_(inner), server_(std::move(server)) {}

  void open(const db::ConnectionTarget& target, std::chrono::seconds timeout) override {
    attempts.push_back(target);
    timeouts.push_back(timeout);
    if (onOpen) {
      onOpen(target);
    }
    if (target.server != server_) {
      throw db::DatabaseError("no server " + target.server);
    }
    inner_.open(target, timeout);
  }
  void close() noexcept override { inner_.close(); }
  [[nodiscard]] bool isOpen() const noexcept override { return inner_.isOpen(); }
  void begin() override { inner_.begin(); }
  void commit() override { inner_.commit(); }
  void rollback() override { inner_.rollback(); }
  [[nodiscard]] bool transactionActive() override { return inner_.transactionActive(); }
  void execute(const std::string& text, const db::Params& params) override {
    inner_.execute(text, params);
  }
  db::Rows query(const std::string& text, const db::Params& params) override {
    return inner_.query(text, params);
  }

  std::vector<db::ConnectionTarget> attempts;
  std::vector<std::chrono::seconds> timeouts;
  std::function<void(const db::ConnectionTarget&)> onOpen;

 private:
  db::SimulatedDatabase& inner_;
  std::string server_;
};

}  // namespace upgrade::testing
