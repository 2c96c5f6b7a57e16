// The four connection settings in System.ini, the provider connection string built
// from them, and the program's one connection (ADOCon).
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "database.h"
#include "settings_file.h"

namespace upgrade::settings {

// Each setting has a section of its own holding one key named after it plus "1".
struct SettingKey {
  std::string_view section;
  std::string_view key;
};
inline constexpr SettingKey kServerKey{"ServerIP", "ServerIP1"};
inline constexpr SettingKey kPasswordKey{"ServerPass", "ServerPass1"};
inline constexpr SettingKey kDatabaseKey{"Dbname", "Dbname1"};
inline constexpr SettingKey kPortKey{"ServerPort", "ServerPort1"};

inline constexpr std::string_view kSettingsFileName = "System.ini";
inline constexpr std::string_view kLogin = "sa";
inline constexpr std::chrono::seconds kLoginTimeout{15};

// The port is stored and shown but takes no part in connecting.
struct ConnectionSettings {
  std::string server = ".";
  std::string password;
  int port = 80;
  std::string database = "Kvb";
};

// System.ini in the directory of the program's own executable file.
[[nodiscard]] std::filesystem::path settingsPathIn(const std::filesystem::path& programDirectory);

// Reads server, password, port and database name, in that order; anything missing
// or unreadable gives its default.
[[nodiscard]] ConnectionSettings readConnectionSettings(const SettingsFile& settings);

// "Provider=SQLOLEDB.1;Password=<password>;Persist Security Info=False;User ID=sa;
// Initial Catalog=<database>;Data Source=<server>", the values put in as they stand.
[[nodiscard]] std::string buildConnectionString(std::string_view password,
                                                std::string_view database, std::string_view server);

// The same three values and the login, kept apart for the database client, which
// quotes them itself.
[[nodiscard]] db::ConnectionTarget buildConnectionTarget(std::string_view password,
                                                         std::string_view database,
                                                         std::string_view server);

// ADOCon: the program's one database connection. It holds the connection string it
// was last given, as the provider connection did, and opens the database with the
// values behind it. No login prompt: the password comes from the string only.
class Connection {
 public:
  explicit Connection(db::Database& database) noexcept : database_(&database) {}

  void close() noexcept { database_->close(); }
  [[nodiscard]] bool isOpen() const noexcept { return database_->isOpen(); }

  // Gives the connection the string built from these values; takes effect on the
  // next open(). The connection should be closed first.
  void setConnection(std::string_view password, std::string_view database, std::string_view server);
  [[nodiscard]] const std::string& connectionString() const noexcept { return connectionString_; }
  [[nodiscard]] const db::ConnectionTarget& target() const noexcept { return target_; }

  // Opens the database; an attempt gives up after kLoginTimeout. Throws
  // DatabaseError and stays closed when it fails.
  void open();

  [[nodiscard]] db::Database& database() const noexcept { return *database_; }

 private:
  db::Database* database_;
  std::string connectionString_;
  db::ConnectionTarget target_;
};

}  // namespace upgrade::settings
