// Listing servers and looking up an instance over UDP, against responders on
// 127.0.0.1 that the tests run. Nothing here broadcasts.
#include <gtest/gtest.h>

#include <atomic>

#include "loopback_peers.h"
#include "ssrp.h"

namespace upgrade::net::ssrp {
namespace {

using namespace std::chrono_literals;
using testing::BrowserResponder;
using testing::browserResponse;
using testing::Bytes;
using testing::SilentUdpPort;

Destination loopback(std::uint16_t port) {
  return Destination{"127.0.0.1", port};
}

TEST(SsrpListing, CollectsEveryDatagramOfTheWindowDeduplicatedAndSorted) {
  BrowserResponder responder([](const Bytes&) {
    return std::vector<Bytes>{
        browserResponse("ServerName;POS2;InstanceName;MSSQLSERVER;tcp;1433;;"
                        "ServerName;POS2;InstanceName;KVB;tcp;1500;;"),
        Bytes{0x13, 0x37},  // junk
        browserResponse("ServerName;BAR;InstanceName;MSSQLSERVER;tcp;1433;;"),
        browserResponse("ServerName;POS2;InstanceName;MSSQLSERVER;tcp;1433;;"),  // again
        browserResponse("ServerName;\xC7\xB0\xCC\xA8;InstanceName;SQLEXPRESS;;"),
        Bytes{0x05, 0xFF, 0xFF, 'S'},  // size beyond the datagram
    };
  });

  EXPECT_EQ(listSqlServers(loopback(responder.port()), 500ms),
            (std::vector<std::string>{"BAR", "POS2", "POS2\\KVB", "前台\\SQLEXPRESS"}));
  // A unicast destination is asked for all instances of that one host.
  EXPECT_EQ(responder.requests(), std::vector<Bytes>{Bytes{0x03}});
}

TEST(SsrpListing, SilenceGivesAnEmptyListWhenTheWindowHasPassed) {
  SilentUdpPort silent;
  EXPECT_TRUE(listSqlServers(loopback(silent.port()), 200ms).empty());
}

TEST(SsrpListing, NothingButJunkGivesAnEmptyList) {
  BrowserResponder responder([](const Bytes&) {
    return std::vector<Bytes>{Bytes{0x05}, browserResponse("no records here")};
  });
  EXPECT_TRUE(listSqlServers(loopback(responder.port()), 200ms).empty());
}

TEST(SsrpInstanceLookup, FindsTheTcpPortOfANamedInstance) {
  BrowserResponder responder([](const Bytes& request) {
    if (request != instanceRequest("KVB")) {
      return std::vector<Bytes>{};
    }
    return std::vector<Bytes>{
        browserResponse("ServerName;POS1;InstanceName;KVB;IsClustered;No;tcp;49733;;")};
  });

  EXPECT_EQ(lookupInstancePort("127.0.0.1", "KVB", 5s, responder.port()), 49733);
}

// Instance names are compared as SQL Server compares them, without regard to case.
TEST(SsrpInstanceLookup, MatchesTheAnswerWithoutRegardToCase) {
  BrowserResponder responder([](const Bytes&) {
    return std::vector<Bytes>{browserResponse("ServerName;POS1;InstanceName;KVB;tcp;1501;;")};
  });
  EXPECT_EQ(lookupInstancePort("localhost", "kvb", 5s, responder.port()), 1501);
}

TEST(SsrpInstanceLookup, AsksAgainWhenTheFirstRequestGoesUnanswered) {
  std::atomic<int> seen{0};
  BrowserResponder responder([&seen](const Bytes&) {
    if (++seen == 1) {
      return std::vector<Bytes>{};  // as if the datagram were lost
    }
    return std::vector<Bytes>{browserResponse("ServerName;POS1;InstanceName;KVB;tcp;1502;;")};
  });
  EXPECT_EQ(lookupInstancePort("127.0.0.1", "KVB", 10s, responder.port()), 1502);
  EXPECT_EQ(responder.requests().size(), 2U);
}

TEST(SsrpInstanceLookup, GivesUpWithoutAUsableAnswer) {
  SilentUdpPort silent;
  EXPECT_EQ(lookupInstancePort("127.0.0.1", "KVB", 300ms, silent.port()), std::nullopt);

  // Another instance's answer, and the instance without TCP, are no port.
  BrowserResponder other([](const Bytes&) {
    return std::vector<Bytes>{browserResponse("ServerName;POS1;InstanceName;OTHER;tcp;1433;;")};
  });
  EXPECT_EQ(lookupInstancePort("127.0.0.1", "KVB", 300ms, other.port()), std::nullopt);
  BrowserResponder pipesOnly([](const Bytes&) {
    return std::vector<Bytes>{
        browserResponse("ServerName;POS1;InstanceName;KVB;np;\\\\POS1\\pipe\\sql\\query;;")};
  });
  EXPECT_EQ(lookupInstancePort("127.0.0.1", "KVB", 5s, pipesOnly.port()), std::nullopt);
}

}  // namespace
}  // namespace upgrade::net::ssrp
