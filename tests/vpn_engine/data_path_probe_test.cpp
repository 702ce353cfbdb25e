// The delay probes against a local HTTP server, through the stand-in's SOCKS relay and direct.
// A probe through the SOCKS port must really cross it: a dead or refusing relay gives -1.
#include "probes/data_path_probe.h"

#include <gtest/gtest.h>

#include <chrono>

#include "standin_core.h"
#include "support/local_http_server.h"

namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

std::string LocalUrl(const LocalHttpServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.port()) + path;
}

// Through the relay, with the URL's port and path, as GET or HEAD; any HTTP status counts (the
// path is open), a TLS handshake with a plain server does not.
TEST(SocksProbe, RequestCrossesTheRelayAndAnyStatusCountsOnlyThere) {
  StandinCore core;
  ASSERT_TRUE(core.Start());
  LocalHttpServer failing(500);
  EXPECT_GE(ProbeThroughSocks(core.socks_port(), LocalUrl(failing, "/x")), 1);
  EXPECT_GE(ProbeViaSocks(core.socks_port(), LocalUrl(failing, "/h"), "HEAD", 8000), 1);
  const auto requests = failing.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(failing.port());
  EXPECT_EQ(requests[0].rfind("GET /x HTTP/1.1\r\n" + host, 0), 0u) << requests[0];
  EXPECT_EQ(requests[1].rfind("HEAD /h HTTP/1.1\r\n" + host, 0), 0u) << requests[1];
  EXPECT_EQ(ProbeThroughSocks(core.socks_port(),
                              "https://127.0.0.1:" + std::to_string(failing.port()) + "/"),
            -1);

  // Nothing listening, a refusing relay, or a tunnel not running or not ready: -1, and nothing
  // reaches the target.
  LocalHttpServer server;
  const std::string url = LocalUrl(server, "/");
  EXPECT_EQ(ProbeThroughSocks(FindFreeLoopbackPort(), url), -1);
  EXPECT_EQ(ProbeThroughSocks(0, url), -1);
  StandinCore refusing("standin_refuse_connect");
  ASSERT_TRUE(refusing.Start());
  EXPECT_EQ(ProbeThroughSocks(refusing.socks_port(), url), -1);
  EXPECT_EQ(MeasureConnectedDelay(10807, true, false, url), -1);
  EXPECT_EQ(MeasureConnectedDelay(10807, false, true, url), -1);
  EXPECT_EQ(MeasureConnectedDelay(0, true, true, url), -1);
  EXPECT_TRUE(server.requests().empty());
}

TEST(DirectProbe, ReachesTheServerWithoutAProxyAndKeepsItsLimit) {
  LocalHttpServer server(500);
  EXPECT_GE(ProbeDirect("127.0.0.1", LocalUrl(server, "/direct")), 1);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /direct HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(
      ProbeDirect("127.0.0.1", "http://127.0.0.1:" + std::to_string(FindFreeLoopbackPort()) + "/"),
      -1);

  // A server that takes the connection and never answers (a black-holed path): the probe gives
  // up after its 5 s per phase, not after the system's own minutes-long defaults.
  SOCKET silent = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof(address);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(silent, 4), 0);  // the backlog completes connections nobody accepts
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      ProbeDirect("127.0.0.1", "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"),
      -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60))
      << "a hang catcher: the system waits minutes";
  ::closesocket(silent);
}

}  // namespace
