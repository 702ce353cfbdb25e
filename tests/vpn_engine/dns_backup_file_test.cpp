// The backup file dns_restore.v1 and the rules for text placed on a netsh command line. The file
// sits in a folder other users can write to, so its reader is tested against planted and damaged
// files as much as against its own output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/captured_log.h"
#include "vpn_engine/dns_protection/dns_backup_format.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

// A home machine: Ethernet on DHCP with the ISP's servers, Wi-Fi with three static servers, two
// hand-set IPv6 servers and a name in the user's language, an adapter whose metric could not be
// read.
std::vector<DnsBackupRecord> HomeMachineRecords() {
  // clang-format off
  DnsBackupRecord ethernet{"Ethernet", 12, true, {"192.168.178.1", "84.200.69.80"}, true, 25, true, 0, {}};
  DnsBackupRecord wifi{u8"WLAN-Verbindung \u00fcber Fritz!Box", 7, false, {"1.1.1.1", "9.9.9.9", "208.67.222.222"}, true, 35, false, 0, {}};
  // clang-format on
  ethernet.luid = 0x0006000001000000ull;
  wifi.luid = 0x0047000001000000ull;
  wifi.serversV6 = {"2606:4700:4700::1111", "2620:fe::fe"};
  DnsBackupRecord usb{"USB-Tethering", 23, true, {}, false, 0, false, 0, {}};
  return {ethernet, wifi, usb};
}

// The records as the first layout of the file holds them (what earlier versions wrote).
constexpr char kFirstLayout[] =
    "v1\n3\n"
    "Ethernet\n12\n1\n1\n25\n1\n2\n192.168.178.1\n84.200.69.80\n"
    u8"WLAN-Verbindung \u00fcber Fritz!Box\n7\n0\n1\n35\n0\n3\n1.1.1.1\n9.9.9.9\n208.67.222.222\n"
    "USB-Tethering\n23\n1\n0\n0\n0\n0\n";

TEST(DnsBackupFileTest, WritesTheExactBytesAndReadsThemBack) {
  const auto records = HomeMachineRecords();
  const std::string file = std::string(kFirstLayout) +
                           "x1\n1688849877041152\n0\n19984723363233792\n2\n"
                           "2606:4700:4700::1111\n2620:fe::fe\n0\n0\n";
  EXPECT_EQ(FormatDnsBackups(records), file);
  std::vector<DnsBackupRecord> loaded;
  ASSERT_TRUE(ParseDnsBackups(file, &loaded));
  EXPECT_EQ(loaded, records);
  // A file an earlier version wrote still reads (no LUIDs, no IPv6 servers); a reader of the
  // first layout reads the new file's records the same way and stops before the extension.
  ASSERT_TRUE(ParseDnsBackups(kFirstLayout, &loaded));
  auto first_layout = records;
  for (auto& record : first_layout) {
    record.luid = 0;
    record.serversV6.clear();
  }
  EXPECT_EQ(loaded, first_layout);
  EXPECT_EQ(file.compare(0, sizeof(kFirstLayout) - 1, kFirstLayout), 0);
}

struct DamagedFile {
  const char* what;
  std::string content;
  std::vector<std::string> names;  // records kept, in order
  const char* line;                // a log line it must write, or nullptr
};

TEST(DnsBackupFileTest, DamagedOrPlantedFilesNeverYieldUnsafeOrInventedRecords) {
  std::string nine_servers = "v1\n2\nEthernet\n12\n0\n1\n25\n1\n9\n";
  for (int i = 1; i <= 9; ++i) nine_servers += "10.0.0." + std::to_string(i) + "\n";
  nine_servers += "WLAN\n7\n1\n0\n0\n0\n0\n";
  const std::string huge = "v1\n4000000000\n" + std::string(2 << 20, 'A');
  // clang-format off
  const std::vector<DamagedFile> cases = {
      {"version line ends in CR", "v1\r\n1\nEthernet\n12\n1\n1\n25\n1\n0\n", {}, "dns-leak: unknown DNS backup version"},
      {"empty file", "", {}, "dns-leak: unknown DNS backup version"},
      {"byte-order mark", "\xEF\xBB\xBFv1\n1\nEthernet\n12\n1\n1\n25\n1\n0\n", {}, "dns-leak: unknown DNS backup version"},
      {"unsafe names dropped, safe one kept", "v1\n3\nLAN & calc\n5\n1\n0\n0\n0\n0\nWLAN \"x\"\n6\n1\n0\n0\n0\n0\nEthernet\n12\n1\n0\n0\n0\n0\n", {"Ethernet"}, "dns-leak: rejected unsafe adapter name from DNS backup"},
      {"name with CR from a Windows editor", "v1\n1\nEthernet\r\n12\n1\n0\n0\n0\n0\n", {}, "dns-leak: rejected unsafe adapter name from DNS backup"},
      {"empty name dropped silently", "v1\n2\n\n3\n1\n0\n0\n0\n0\nWLAN\n7\n1\n0\n0\n0\n0\n", {"WLAN"}, nullptr},
      {"more than eight servers, next record still read", nine_servers, {"Ethernet", "WLAN"}, nullptr},
      {"truncated inside the servers", "v1\n2\nEthernet\n12\n1\n1\n25\n1\n0\nWLAN\n7\n0\n1\n35\n0\n3\n1.1.1.1\n9.9", {"Ethernet"}, nullptr},
      {"truncated inside the numbers", "v1\n1\nEthernet\n12\n1\n1\n", {}, nullptr},
      {"number out of range", "v1\n1\nEthernet\n99999999999\n1\n1\n25\n1\n0\n", {}, nullptr},
      {"negative number", "v1\n1\nEthernet\n-1\n1\n1\n25\n1\n0\n", {}, nullptr},
      {"huge count, no records", huge, {}, nullptr},
  };
  // clang-format on
  for (const DamagedFile& c : cases) {
    SCOPED_TRACE(c.what);
    ClearCapturedLog();
    std::vector<DnsBackupRecord> loaded(1);
    loaded[0].name = "stale";
    EXPECT_EQ(ParseDnsBackups(c.content, &loaded), !c.names.empty());
    std::vector<std::string> names;
    for (const auto& r : loaded) {
      names.push_back(r.name);
      EXPECT_TRUE(IsSafeNetshName(r.name));
      EXPECT_LE(r.servers.size(), 8u);
      for (const auto& s : r.servers) EXPECT_TRUE(IsDottedIpv4Server(s)) << s;
    }
    EXPECT_EQ(names, c.names);
    if (c.line) EXPECT_TRUE(CapturedLogContains(c.line));
  }
}

TEST(DnsBackupFileTest, KeepsOnlyValidServersAmongTheFirstEight) {
  const std::string file =
      "v1\n1\nEthernet\n12\n0\n1\n25\n1\n9\n"
      "192.168.1.1\n8.8.8.8 & calc\n256.1.1.1\n1.1.1\n\n01.2.3.4\n9.9.9.9\r\n10.0.0.8\n10.0.0.9\n";
  std::vector<DnsBackupRecord> loaded;
  ASSERT_TRUE(ParseDnsBackups(file, &loaded));
  EXPECT_EQ(loaded[0].servers, (std::vector<std::string>{"192.168.1.1", "01.2.3.4", "10.0.0.8"}));
}

TEST(NetshTextRulesTest, SafeNamesAndServerAddresses) {
  const struct {
    std::string name;
    bool safe;
  } names[] = {
      // clang-format off
      {"Ethernet", true}, {u8"WLAN-Verbindung \u00fcber Fritz!Box", true}, {"Zelvora 2", true},
      {u8"\u0411\u0435\u0441\u043f\u0440\u043e\u0432\u043e\u0434\u043d\u0430\u044f \u0441\u0435\u0442\u044c", true},
      {std::string(256, 'x'), true}, {std::string(257, 'x'), false}, {"", false},
      // clang-format on
  };
  for (const auto& n : names) EXPECT_EQ(IsSafeNetshName(n.name), n.safe) << n.name;
  for (const char bad : {'\n', '\r', '"', '%', '&', '<', '>', '^', '`', '|'}) {
    EXPECT_FALSE(IsSafeNetshName(std::string("LAN") + bad + "1")) << int(bad);
  }
  // clang-format off
  const struct {
    const char* text;
    bool valid;
  } servers[] = {{"8.8.8.8", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
                 {"010.001.0.1", true}, {"256.0.0.1", false}, {"1.2.3", false},
                 {"1.2.3.4.5", false}, {"1..2.3", false}, {"1.2.3.4 ", false}, {" 1.2.3.4", false},
                 {"1.2.3.-4", false}, {"::1", false}, {"1.2.3.99999999999999999999", false},
                 {"", false}};
  // clang-format on
  for (const auto& s : servers) EXPECT_EQ(IsDottedIpv4Server(s.text), s.valid) << s.text;
}

}  // namespace
