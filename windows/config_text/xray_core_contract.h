// What the engine and proxy mode rely on from the Xray core (xray.exe): how it is invoked, what
// it prints, and the configuration names the injected text uses. Anything that stands in for
// the core (the test stand-in, a future core) must honour exactly this.
#pragma once

#include <cstdint>
#include <string>

namespace xray_core {

// Files of the core's folder.
constexpr char kExecutableName[] = "xray.exe";
constexpr char kGeoIpFile[] = "geoip.dat";
constexpr char kGeoSiteFile[] = "geosite.dat";
// Environment variable that tells the core where its data files are (proxy mode).
constexpr char kAssetLocationVariable[] = "XRAY_LOCATION_ASSET";

// Loopback endpoints and ports.
constexpr uint16_t kDefaultSocksPort = 10807;
constexpr uint16_t kEngineApiPort = 10086;
constexpr char kEngineApiAddress[] = "127.0.0.1:10086";
constexpr uint16_t kProxyApiPort = 10085;
constexpr char kProxyApiAddress[] = "127.0.0.1:10085";

// `"<xray>" -config "<file>"`: reads the file, serves its inbounds, runs until terminated.
inline std::string RunCommandLine(const std::string& xray, const std::string& config) {
  return "\"" + xray + "\" -config \"" + config + "\"";
}

// A configuration the core cannot load ends it, before it listens on anything, with this exit
// code (Xray's main/run.go: "Failed to start: ..." and exit 23, which the "-test" switch gives
// too; a listener that cannot start exits -1 instead).
constexpr uint32_t kConfigurationErrorExitCode = 23;

// The core's counters: standard output holds a JSON object with a "stat" array of objects
// carrying "name" and "value" (probes/core_traffic.h reads it).
inline std::string EngineStatsQueryArguments(const std::string& api_address) {
  return "api statsquery -server=" + api_address;
}
// Proxy mode's form of the same query.
inline std::string ProxyStatsQueryArguments(const std::string& api_address) {
  return "api statsquery -s " + api_address + " -pattern \"\"";
}
// `"<xray>" <arguments>`, used with the statsquery and version arguments.
inline std::string ApiCommandLine(const std::string& xray, const std::string& arguments) {
  return "\"" + xray + "\" " + arguments;
}

// Version: the API command "version" (its first output line is the answer), or
// `"<xray>" -version`, whose output holds "Xray" and a dotted three-part version.
constexpr char kVersionApiArguments[] = "version";
constexpr char kVersionArguments[] = "-version";
// The x.y.z after "Xray" and blanks in the version output (first such place); empty when none.
std::string ParseCoreVersion(const std::string& output);

// Names the injected configuration uses and the core must understand.
constexpr char kApiTag[] = "api";
constexpr char kApiInboundProtocol[] = "dokodemo-door";
constexpr char kStatsServiceName[] = "StatsService";
constexpr char kTunInboundTag[] = "tun-in";
constexpr char kTunAdapterName[] = "Zelvora";
constexpr char kDirectOutboundTag[] = "direct";
constexpr char kProxyOutboundTag[] = "proxy";

}  // namespace xray_core
