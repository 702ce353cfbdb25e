// Shared set-up for the client tests: the reference service installed in this Wine prefix,
// with its behaviour chosen per test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fixture_files.h"
#include "service_admin.h"

class TunnelServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(tunnel_fixture::InstallTunnelService(
        tunnel_fixture::ProgramBeside(L"zelvora_tunnel_service.exe")));
  }
  static void TearDownTestSuite() { tunnel_fixture::DeleteTunnelService(); }

  void SetUp() override {
    SetBehaviour("");
    tunnel_fixture::WriteFixtureFile(tunnel_fixture::kJournalFile, "");
  }

  static void SetBehaviour(const std::string& lines) {
    ASSERT_TRUE(tunnel_fixture::WriteFixtureFile(tunnel_fixture::kBehaviourFile, lines));
  }
  // Fresh service process with the current behaviour (the pipe choice is read at start).
  static void RestartService() {
    ASSERT_TRUE(tunnel_fixture::StopTunnelService());
    ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  }
  static std::string Journal() {
    return tunnel_fixture::ReadFixtureFile(tunnel_fixture::kJournalFile);
  }
};

inline long long MillisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}
