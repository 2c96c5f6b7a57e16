// The SQL Server Resolution Protocol's messages: requests as sent, answers as read.
#include <gtest/gtest.h>

#include "loopback_peers.h"
#include "ssrp.h"

namespace upgrade::net::ssrp {
namespace {

using testing::browserResponse;
using testing::Bytes;
using namespace std::string_view_literals;

std::vector<std::string> names(const std::vector<Instance>& instances) {
  std::vector<std::string> out;
  for (const auto& instance : instances) {
    out.push_back(displayName(instance));
  }
  return out;
}

constexpr std::string_view kTwoInstances =
    "ServerName;POS1;InstanceName;MSSQLSERVER;IsClustered;No;Version;10.50.1600.1;tcp;1433;"
    "np;\\\\POS1\\pipe\\sql\\query;;"
    "ServerName;POS1;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;49733;;";

TEST(SsrpRequests, AreTheTypeByteAndForOneInstanceItsNameAndANul) {
  EXPECT_EQ(broadcastRequest(), Bytes{0x02});
  EXPECT_EQ(hostRequest(), Bytes{0x03});
  EXPECT_EQ(instanceRequest("SQLEXPRESS"),
            (Bytes{0x04, 'S', 'Q', 'L', 'E', 'X', 'P', 'R', 'E', 'S', 'S', 0x00}));
  // A name outside ASCII goes in the server's code page.
  EXPECT_EQ(instanceRequest("前台"), (Bytes{0x04, 0xC7, 0xB0, 0xCC, 0xA8, 0x00}));
}

TEST(SsrpResponses, ADatagramCanDescribeSeveralInstances) {
  const auto instances = parseResponse(browserResponse(kTwoInstances));
  ASSERT_EQ(instances.size(), 2U);
  EXPECT_EQ(instances[0].serverName, "POS1");
  EXPECT_EQ(instances[0].instanceName, "MSSQLSERVER");
  EXPECT_EQ(instances[0].version, "10.50.1600.1");
  EXPECT_EQ(instances[0].tcpPort, 1433);
  EXPECT_EQ(instances[1].instanceName, "SQLEXPRESS");
  EXPECT_EQ(instances[1].tcpPort, 49733);
  // The default instance is shown as the bare host, the way an operator types it.
  EXPECT_EQ(names(instances), (std::vector<std::string>{"POS1", "POS1\\SQLEXPRESS"}));
}

TEST(SsrpResponses, EmptyValuesAndMissingOrBadPortsAreReadForWhatTheyAre) {
  const auto instances = parseResponse(
      browserResponse("ServerName;A;InstanceName;ONE;IsClustered;;Version;;np;\\\\A\\pipe;;"
                      "ServerName;A;InstanceName;TWO;tcp;http;;"
                      "ServerName;A;InstanceName;THREE;tcp;70000;;"));
  ASSERT_EQ(instances.size(), 3U);
  EXPECT_EQ(instances[0].instanceName, "ONE");  // empty values do not end the record
  EXPECT_EQ(instances[0].version, "");
  EXPECT_EQ(instances[0].tcpPort, std::nullopt);  // TCP not enabled
  EXPECT_EQ(instances[1].tcpPort, std::nullopt);
  EXPECT_EQ(instances[2].tcpPort, std::nullopt);
}

TEST(SsrpResponses, JunkAndSizeFieldsBeyondTheDatagramYieldNothing) {
  EXPECT_TRUE(parseResponse(Bytes{}).empty());
  EXPECT_TRUE(parseResponse(Bytes{0x05, 0x00}).empty());
  EXPECT_TRUE(parseResponse(Bytes{0x05, 0x00, 0x00}).empty());
  Bytes wrongType = browserResponse(kTwoInstances);
  wrongType[0] = 0x04;
  EXPECT_TRUE(parseResponse(wrongType).empty());
  // A size larger than what arrived: the datagram was cut short, trust none of it.
  Bytes tooLong = browserResponse(kTwoInstances);
  tooLong[1] = static_cast<std::uint8_t>(tooLong[1] + 1);
  EXPECT_TRUE(parseResponse(tooLong).empty());
  // Text that is not made of records.
  EXPECT_TRUE(parseResponse(browserResponse("hello;world;;;;")).empty());
  EXPECT_TRUE(parseResponse(browserResponse(std::string(300, '\xFF'))).empty());
}

TEST(SsrpResponses, OnlyTheDeclaredSizeIsReadAndAnIncompleteRecordIsDropped) {
  // Trailing bytes beyond the declared size are ignored...
  Bytes padded = browserResponse(kTwoInstances);
  padded.insert(padded.end(), {'S', 'e', 'r', 'v', 'e', 'r', ';', ';'});
  EXPECT_EQ(names(parseResponse(padded)), (std::vector<std::string>{"POS1", "POS1\\SQLEXPRESS"}));
  // ...and a size that ends inside the second record keeps only the first.
  Bytes cut = browserResponse(kTwoInstances);
  const size_t size = kTwoInstances.size() - 10;
  cut[1] = static_cast<std::uint8_t>(size & 0xFF);
  cut[2] = static_cast<std::uint8_t>(size >> 8);
  EXPECT_EQ(names(parseResponse(cut)), std::vector<std::string>{"POS1"});
  // A record without its closing ";;", or without a server or instance name.
  EXPECT_TRUE(parseResponse(browserResponse("ServerName;A;InstanceName;B;tcp;1433")).empty());
  EXPECT_TRUE(parseResponse(browserResponse("ServerName;A;InstanceName;B;tcp;")).empty());
  EXPECT_TRUE(parseResponse(browserResponse("ServerName;A;tcp;1433;;")).empty());
  EXPECT_TRUE(parseResponse(browserResponse("InstanceName;B;tcp;1433;;")).empty());
  EXPECT_TRUE(parseResponse(browserResponse("ServerName;;InstanceName;B;;")).empty());
}

TEST(SsrpResponses, NamesInTheServersCodePageAreDecoded) {
  // "前台" and "收银" in GBK, as a Chinese Windows server sends its names.
  const auto instances = parseResponse(
      browserResponse("ServerName;\xC7\xB0\xCC\xA8;InstanceName;MSSQLSERVER;tcp;1433;;"
                      "ServerName;\xC7\xB0\xCC\xA8;InstanceName;\xCA\xD5\xD2\xF8;tcp;1500;;"));
  EXPECT_EQ(names(instances), (std::vector<std::string>{"前台", "前台\\收银"}));
  // 0x80 is the euro sign of code page 936, as in System.ini.
  EXPECT_EQ(names(parseResponse(browserResponse("ServerName;POS\x80;InstanceName;MSSQLSERVER;;"))),
            std::vector<std::string>{"POS€"});
}

TEST(SsrpResponses, ANameThatCannotBeDecodedDropsOnlyItsRecord) {
  const auto instances = parseResponse(
      browserResponse("ServerName;\xFF\xFE\xFF;InstanceName;MSSQLSERVER;tcp;1433;;"
                      "ServerName;POS2;InstanceName;MSSQLSERVER;tcp;1433;;"
                      // Not GBK (a lead byte at the end) but valid UTF-8: kept as it is.
                      "ServerName;\xE4\xB8\xAD;InstanceName;MSSQLSERVER;tcp;1433;;"
                      // No real name holds a control character; a NUL would cut it
                      // short wherever it is passed on.
                      "ServerName;PO\x01S;InstanceName;MSSQLSERVER;tcp;1433;;"
                      "ServerName;POS3;InstanceName;SQL\0EXPRESS;tcp;1433;;"sv));
  EXPECT_EQ(names(instances), (std::vector<std::string>{"POS2", "中"}));
}

}  // namespace
}  // namespace upgrade::net::ssrp
