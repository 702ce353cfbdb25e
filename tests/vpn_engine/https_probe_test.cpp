// HTTPS through the SOCKS relay: TLS through Schannel, then the system's certificate checks,
// against a local server whose certificate comes from an authority nobody trusts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "standin_core.h"
#include "vpn_engine/data_path_probe.h"

namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

TEST(HttpsProbe, ServerFromAnUnknownAuthorityIsRefused) {
  const std::string port = Env("ZELVORA_TEST_TLS_PORT");
  if (port.empty()) GTEST_SKIP() << "run through https_probe_test.sh";
  StandinCore core;
  ASSERT_TRUE(core.Start());
  // The TLS handshake and the request succeed here; only the certificate check can fail it.
  EXPECT_EQ(ProbeThroughSocks(core.socks_port(), "https://localhost:" + port + "/"), -1);
  EXPECT_EQ(ProbeViaSocks(core.socks_port(), "https://localhost:" + port + "/", "HEAD", 8000), -1);
}

}  // namespace
