#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "config_text/config_inspection.h"
#include "config_text/vpn_config_file.h"
#include "probes/loopback_ports.h"
#include "vpn_engine/injection/routing_rules.h"
#include "vpn_engine/injection/store_app_listing.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A stripped copy under the fixed name; only earlier copies of it are removed.
TEST(WriteVpnConfig, WritesStrippedCopyAndRemovesOldFiles) {
  const fs::path folder = fs::path(UserTempDirectory()) / L"tidewire_vpn";
  fs::create_directories(folder);
  std::ofstream(folder / L"vpn_config_1712345.json") << "old";
  const wchar_t* const kept[] = {L"keep.json", L"vpn_config_17.json.bak", L"xray_config_17.json"};
  for (const wchar_t* name : kept) std::ofstream(folder / name) << "keep";

  std::wstring path;
  const std::string config = R"({"a":1, "allowInsecure": true, "b":{"allowInsecure":false}})";
  ASSERT_TRUE(WriteVpnConfig(config, &path));
  EXPECT_EQ(fs::path(path), folder / L"vpn_config_active.json");
  EXPECT_EQ(ReadFile(path), R"({"a":1, "b":{}})");
  EXPECT_FALSE(fs::exists(folder / L"vpn_config_1712345.json"));
  for (const wchar_t* name : kept) {
    EXPECT_TRUE(fs::exists(folder / name));
    fs::remove(folder / name);
  }
}

TEST(LoopbackPorts, BusyPortIsSeenAndAFreeOneIsOffered) {
  WSADATA data{};
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  const uint16_t port = FindFreeLoopbackPort();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(IsLoopbackPortFree(port));

  SOCKET holder = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  EXPECT_FALSE(IsLoopbackPortFree(port));

  // The remap asks this machine's loopback.
  const std::string config =
      "{\"inbounds\": [{\"tag\":\"socks\",\"port\": " + std::to_string(port) + "}]}";
  EXPECT_NE(FindSocksInboundPort(RemapBusyPorts(config, SystemLoopbackPorts())), port);
  ::closesocket(holder);
  ::WSACleanup();
}

TEST(StoreAppListing, ListsTheFolderExecutablesExceptHelpersAndLinks) {
  const fs::path root = fs::temp_directory_path() / L"zelvora_store_test";
  const fs::path folder = root / L"WindowsApps" / L"Pkg_1.0";
  const fs::path outside = root / L"Elsewhere";
  fs::create_directories(folder / L"sub.exe");
  fs::create_directories(outside);
  for (const wchar_t* name : {L"Main.exe", L"Worker.exe", L"unins000.exe", L"readme.txt"}) {
    std::ofstream(folder / name) << "x";
  }
  std::ofstream(outside / L"Foreign.exe") << "x";
  // A link planted in the app's folder under a program's name is no program of the app
  // (Windows lists it as a reparse point; Wine does not list it at all).
  const bool linked = ::CreateSymbolicLinkW((folder / L"Planted.exe").c_str(),
                                            (outside / L"Foreign.exe").c_str(), 0) != 0;
  TakenNames taken = {"main.exe"};
  std::vector<std::string> names;
  CollectStoreAppExecutables(folder.u8string() + "\\Main.exe", &taken, &names,
                             ListExeFilesInFolder);
  EXPECT_EQ(names, (std::vector<std::string>{"worker.exe"})) << "link made: " << linked;
  fs::remove_all(root);

  names.clear();
  CollectStoreAppExecutables("C:\\nowhere\\WindowsApps\\x\\a.exe", &taken, &names,
                             ListExeFilesInFolder);
  EXPECT_TRUE(names.empty());
}

TEST(ResolveServerIPv4, DottedQuadNeedsNoLookup) {
  EXPECT_EQ(ResolveServerIPv4("203.0.113.7"), (std::vector<std::string>{"203.0.113.7"}));
  EXPECT_TRUE(ResolveServerIPv4("").empty());
  EXPECT_EQ(ResolveServerIPv4("localhost"), (std::vector<std::string>{"127.0.0.1"}));
}

}  // namespace
