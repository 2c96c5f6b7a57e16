// The four settings as start-up reads them, and the connection built from them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "connection_settings.h"
#include "scratch_dir.h"

namespace upgrade::settings {
namespace {

namespace fs = std::filesystem;

TEST(ConnectionStringTest, DefaultsGiveTheLocalDefaultInstance) {
  const ConnectionSettings defaults;
  EXPECT_EQ(buildConnectionString(defaults.password, defaults.database, defaults.server),
            "Provider=SQLOLEDB.1;Password=;Persist Security Info=False;User ID=sa;"
            "Initial Catalog=Kvb;Data Source=.");
}

TEST(ConnectionStringTest, ValuesGoInAsTheyStandAndStayApartForTheClient) {
  EXPECT_EQ(buildConnectionString("p;w=x'\"", " Spa ", "10.0.0.5,1433"),
            "Provider=SQLOLEDB.1;Password=p;w=x'\";Persist Security Info=False;User ID=sa;"
            "Initial Catalog= Spa ;Data Source=10.0.0.5,1433");
  const db::ConnectionTarget target = buildConnectionTarget("p;w=x'\"", " Spa ", "10.0.0.5,1433");
  EXPECT_EQ(target.password, "p;w=x'\"");
  EXPECT_EQ(target.database, " Spa ");
  EXPECT_EQ(target.server, "10.0.0.5,1433");
  EXPECT_EQ(target.user, "sa");
}

class StoredSettingsTest : public ::testing::Test {
 protected:
  testing::ScratchDir dir_{"stored"};
};

TEST_F(StoredSettingsTest, AbsentOrEmptyFileGivesTheDefaults) {
  const fs::path path = settingsPathIn(dir_.path());
  EXPECT_EQ(path, dir_ / "System.ini");
  for (int pass = 0; pass < 2; ++pass) {
    const ConnectionSettings read = readConnectionSettings(SettingsFile(path));
    EXPECT_EQ(read.server, ".");
    EXPECT_EQ(read.password, "");
    EXPECT_EQ(read.port, 80);
    EXPECT_EQ(read.database, "Kvb");
    std::ofstream{path};
  }
}

TEST_F(StoredSettingsTest, ReadsTheFourSectionsAndFallsBackPerSetting) {
  const fs::path path = settingsPathIn(dir_.path());
  std::ofstream(path) << "[ServerIP]\nServerIP1= 192.168.1.9 \n[ServerPass]\nServerPass1=\"a b\"\n"
                         "[ServerPort]\nServerPort1=port\n";
  const ConnectionSettings read = readConnectionSettings(SettingsFile(path));
  EXPECT_EQ(read.server, "192.168.1.9");
  EXPECT_EQ(read.password, "a b");
  EXPECT_EQ(read.port, 80);
  EXPECT_EQ(read.database, "Kvb");
}

}  // namespace
}  // namespace upgrade::settings
