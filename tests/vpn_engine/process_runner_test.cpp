// The process runner under Wine with the core stand-in: hidden commands, long-lived children
// and their readers, captured commands, the SOCKS wait, component location and the orphan
// cleanup.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "processes/components.h"
#include "processes/hidden_command.h"
#include "processes/process_launch.h"
#include "standin_core.h"
#include "support/log_since.h"
#include "support/process_census.h"

namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

using Clock = std::chrono::steady_clock;

std::string Unique(const char* what) {
  return std::string(what) + std::to_string(::GetTickCount64()) + "_" +
         std::to_string(::GetCurrentProcessId());
}

std::string Quoted(const std::wstring& path) { return "\"" + WideToUtf8(path) + "\""; }

// A process started directly (no pipes) that sleeps. Detached: a console child ended from
// outside leaves Wine's console host behind, holding the test runner's output pipe.
UniqueHandle StartSleeper(const std::wstring& exe) {
  std::wstring line = L"\"" + exe + L"\" standin-sleep 30000";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                        nullptr, nullptr, &startup, &info)) {
    return UniqueHandle();
  }
  ::CloseHandle(info.hThread);
  return UniqueHandle(info.hProcess);
}

TEST(RunHiddenCommand, ExitCodesTimeOutAndTheFailureLines) {
  EXPECT_TRUE(RunHiddenCommand("exit /b 0", 10000));
  const TunnelLogWatch log;
  const std::string quiet = "exit /b 1 & rem " + Unique("quiet");
  EXPECT_FALSE(RunHiddenCommand(quiet, 10000));
  const std::string loud = "exit /b 1 & rem " + Unique("loud");
  EXPECT_FALSE(RunHiddenCommand(loud, 10000, true));
  EXPECT_FALSE(log.Saw(quiet));
  EXPECT_TRUE(log.Saw("CMD exit=1: " + loud));
  // netsh runs without the interpreter; upper case goes through it. Wine's netsh exits 0.
  EXPECT_TRUE(RunHiddenCommand("netsh interface show interface", 10000, true));
  EXPECT_TRUE(RunHiddenCommand("NETSH interface show interface", 10000, true));

  // A time-out ends the whole command and logs it.
  const std::string command = Quoted(core_standin::XrayExe()) + " standin-sleep 20000";
  const auto start = Clock::now();
  EXPECT_FALSE(RunHiddenCommand(command, 500, true));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));  // not the command's 20 s
  EXPECT_TRUE(log.Saw("CMD timeout: " + command));
  EXPECT_TRUE(log.Saw("CMD exit=1: " + command));
  // The interpreter's child is gone with it (long before its own 20 s).
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (process_census::Count(L"xray.exe") > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(process_census::Count(L"xray.exe"), 0);
}

// Kill ends a child that ignores its pipes; Close gives it the grace time first. An ended or
// empty record tolerates both.
TEST(ChildProcess, KillEndsAtOnceAndCloseAfterTheGraceTime) {
  for (const bool kill : {true, false}) {
    SCOPED_TRACE(kill ? "Kill" : "Close");
    StandinCore core;
    ASSERT_TRUE(core.Start());
    const auto xray = core.runner().xray.Take();
    ASSERT_TRUE(xray && xray->IsRunning());
    UniqueHandle watch(::OpenProcess(SYNCHRONIZE, FALSE, xray->ProcessId()));
    const auto start = Clock::now();
    kill ? xray->Kill() : xray->Close();
    const auto took = Clock::now() - start;
    EXPECT_FALSE(xray->IsRunning());
    EXPECT_EQ(::WaitForSingleObject(watch.get(), 10000), WAIT_OBJECT_0);
    EXPECT_LT(took, std::chrono::seconds(20));  // a hang catcher
    if (!kill) EXPECT_GE(took, std::chrono::milliseconds(1400));
    xray->Kill();
    xray->Close();
  }
  ChildProcess empty;
  empty.Kill();
  empty.Close();
  EXPECT_FALSE(empty.IsRunning());
}

// Which lines are kept is process_rules_test's business; here the reader reaches the log.
TEST(CoreChildren, Tun2socksWarningsReachTheLog) {
  const TunnelLogWatch log;
  StandinCore core;
  ASSERT_TRUE(LaunchTun2socks(core.runner(), core.socks_port()));
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!log.Saw("[tun2socks stderr] ") && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(
      log.Saw("[tun2socks stderr] {\"level\":\"warn\",\"msg\":\"stand-in: no adapter, idling\"}"))
      << log.NewText();
}

// The wait for the relay gives up when Xray dies or the engine stops, not at its limit.
TEST(CoreChildren, SocksWaitEndsWhenXrayDiesOrTheEngineStops) {
  // Holding the port without listening makes the stand-in fail to bind and exit.
  SOCKET holder = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const uint16_t port = FindFreeLoopbackPort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const TunnelLogWatch log;
  StandinCore dying("", port);
  EXPECT_FALSE(dying.Start(60000));
  ::closesocket(holder);
  EXPECT_TRUE(log.Saw("ERROR: Xray exited while waiting for SOCKS listen"));

  StandinCore core;
  core.runner().running = false;
  const auto start = Clock::now();
  EXPECT_FALSE(WaitForSocksListen(core.runner(), core.socks_port(), 60000));
  EXPECT_FALSE(WaitForSocksListen(core.runner(), 0, 60000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));  // not the 60 s limits
}

TEST(XrayCommands, CapturedOutput) {
  StandinCore good;
  std::string output;
  EXPECT_TRUE(RunXrayCaptured(good.runner(), "version", &output));
  EXPECT_NE(output.find("Xray 1.8.24"), std::string::npos) << output;
  EXPECT_FALSE(RunXrayCaptured(good.runner(), "standin-sleep 5000", &output))
      << "a command past its 800 ms fails";
  // Far more than a pipe buffer holds, read while the core writes (or it could never finish);
  // output past the bound is read and dropped.
  CaptureLimits limits;
  limits.read_ms = 20000;
  limits.max_output_bytes = 64 * 1024;
  CapturedOutput bounded;
  ASSERT_TRUE(RunCapturedProcess(L"\"" + core_standin::XrayExe() + L"\" standin-print 200000",
                                 limits, &bounded));
  EXPECT_EQ(bounded.text.size(), 64u * 1024u);
  EXPECT_TRUE(bounded.truncated);
  EXPECT_FALSE(bounded.timed_out);

  CoreRunner nothing;
  EXPECT_FALSE(RunXrayCaptured(nothing, "version", &output));
}

// While one thread launches a child, another may be about to launch its own with an inheritable
// pipe: neither child may get the other's pipe end, or that pipe stays open (its reader never
// sees the end) for as long as the wrong child lives.
TEST(ChildLaunch, ChildrenInheritOnlyTheirOwnHandles) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_raw, &write_raw, &inheritable, 0));
  UniqueHandle other_read(read_raw);
  UniqueHandle other_write(write_raw);

  StandinCore core;
  ASSERT_TRUE(core.Start());
  std::string output;
  std::thread capture([&] { RunXrayCaptured(core.runner(), "standin-sleep 3000", &output); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the capture's child runs
  other_write.reset();
  DWORD available = 0;
  EXPECT_FALSE(::PeekNamedPipe(other_read.get(), nullptr, 0, nullptr, &available, nullptr))
      << "a child holds a copy of another launch's pipe";
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  capture.join();
}

// As an installed app has them: in "xray\" beside the app's executable, the current folder
// elsewhere. The test programs' folder has letters outside the ANSI code page, as a user's
// install folder may.
TEST(Components, FoundBesideTheApplicationFromAnyCurrentFolder) {
  namespace fs = std::filesystem;
  const fs::path beside = fs::path(core_standin::ProgramFolder()) / L"xray";
  const fs::path elsewhere = fs::temp_directory_path() / L"Zelvora Arbeitsordner \u00e4 \u0416";
  fs::create_directories(elsewhere);
  fs::create_directories(beside);
  for (const wchar_t* name :
       {L"xray.exe", L"tun2socks.exe", L"geoip.dat", L"geosite.dat", L"wintun.dll"}) {
    fs::copy_file(fs::path(core_standin::XrayExe()).parent_path() / name, beside / name,
                  fs::copy_options::overwrite_existing);
  }
  ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.c_str()));

  const auto engine_xray = FindXrayExecutable();
  CoreComponents found;
  const std::string check = CheckComponents(false, &found);
  const fs::path assets = FindXrayAssets(engine_xray.value_or(L""));

  ::SetCurrentDirectoryW(core_standin::Root().c_str());
  // Every later engine test would find copies left here before its own stand-ins; a file
  // still mapped by a child that is ending cannot go yet, so removal is retried.
  std::error_code ignored;
  for (int attempt = 0; attempt < 100 && fs::exists(beside); ++attempt) {
    if (fs::remove_all(beside, ignored) == static_cast<std::uintmax_t>(-1)) ::Sleep(100);
  }
  fs::remove_all(elsewhere, ignored);
  ASSERT_FALSE(fs::exists(beside)) << "left beside the test programs";

  ASSERT_TRUE(engine_xray);
  EXPECT_EQ(fs::path(*engine_xray), beside / L"xray.exe");
  EXPECT_EQ(check, "");
  EXPECT_EQ(fs::path(found.tun2socks_path), beside / L"tun2socks.exe");
  EXPECT_EQ(assets, beside);
}

TEST(OrphanCleanup, EndsOwnLeftoversAndSparesOthers) {
  const std::filesystem::path elsewhere = L"C:\\zelvora_orphan_test";
  std::filesystem::create_directories(elsewhere);
  const std::filesystem::path foreign = elsewhere / L"xray.exe";
  std::filesystem::copy_file(core_standin::XrayExe(), foreign,
                             std::filesystem::copy_options::overwrite_existing);
  const UniqueHandle own = StartSleeper(core_standin::XrayExe());
  const UniqueHandle other = StartSleeper(foreign.wstring());
  KillOrphanCoreProcesses();
  EXPECT_EQ(::WaitForSingleObject(own.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(::WaitForSingleObject(other.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
  ::TerminateProcess(own.get(), 0);
  ::TerminateProcess(other.get(), 0);
}

}  // namespace
