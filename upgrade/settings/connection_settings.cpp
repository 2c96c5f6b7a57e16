#include "connection_settings.h"

namespace upgrade::settings {

std::filesystem::path settingsPathIn(const std::filesystem::path& programDirectory) {
  return programDirectory / kSettingsFileName;
}

ConnectionSettings readConnectionSettings(const SettingsFile& settings) {
  const ConnectionSettings defaults;
  ConnectionSettings read;
  read.server = settings.readString(kServerKey.section, kServerKey.key, defaults.server);
  read.password = settings.readString(kPasswordKey.section, kPasswordKey.key, defaults.password);
  read.port = settings.readInteger(kPortKey.section, kPortKey.key, defaults.port);
  read.database = settings.readString(kDatabaseKey.section, kDatabaseKey.key, defaults.database);
  return read;
}

std::string buildConnectionString(std::string_view password, std::string_view database,
                                  std::string_view server) {
  std::string text = "Provider=SQLOLEDB.1;Password=";
  text += password;
  text += ";Persist Security Info=False;User ID=";
  text += kLogin;
  text += ";Initial Catalog=";
  text += database;
  text += ";Data Source=";
  text += server;
  return text;
}

db::ConnectionTarget buildConnectionTarget(std::string_view password, std::string_view database,
                                           std::string_view server) {
  return db::ConnectionTarget{.server = std::string(server),
                              .database = std::string(database),
                              .user = std::string(kLogin),
                              .password = std::string(password)};
}

void Connection::setConnection(std::string_view password, std::string_view database,
                               std::string_view server) {
  connectionString_ = buildConnectionString(password, database, server);
  target_ = buildConnectionTarget(password, database, server);
}

void Connection::open() {
  database_->open(target_, kLoginTimeout);
}

}  // namespace upgrade::settings
