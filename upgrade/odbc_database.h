// The production database: SQL Server through ODBC (unixODBC with FreeTDS on
// Linux, the Windows driver manager with Microsoft's drivers on Windows).
#pragma once

#include <memory>

#include "database.h"

namespace upgrade {

class OdbcDatabase final : public Database {
 public:
  OdbcDatabase();
  ~OdbcDatabase() override;
  OdbcDatabase(const OdbcDatabase&) = delete;
  OdbcDatabase& operator=(const OdbcDatabase&) = delete;

  void open(const ConnectionTarget& target, std::chrono::seconds loginTimeout) override;
  void close() noexcept override;
  [[nodiscard]] bool isOpen() const noexcept override;
  void begin() override;
  void commit() override;
  void rollback() override;
  [[nodiscard]] bool transactionActive() override;
  void execute(const std::string& text, const Params& params) override;
  Rows query(const std::string& text, const Params& params) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace upgrade
