// The built LanFeedInstaller, run as a user runs it: from a folder whose name
// holds blanks, with a stand-in application manager registered under App
// Paths that records the command line it receives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "run_program.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace lanfeed::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kTimeoutMs = 60000;

// One start of the stand-in manager.
struct ManagerRun {
  std::vector<std::string> arguments;
  std::string raw;  // Windows only
};

class InstallerProgramTest : public ::testing::Test {
 protected:
  static constexpr const char* kKitFolder = "Kits Feed/Lan Feed Installer";
  static constexpr const char* kManager = "Windows CE Services/CEAPPMGR.EXE";

  void SetUp() override {
    record_ = device_.HostPath("record.txt");
    SetEnvironment("LANFEED_RECORD_FILE", record_.string());
    fs::create_directories(device_.HostPath(kKitFolder));
    fs::create_directories(device_.HostPath("Windows CE Services"));
    fs::copy_file(ProgramFolder() / ("LanFeedInstaller" LANFEED_EXE_SUFFIX), Installer());
    fs::copy_file(ProgramFolder() / ("record_arguments" LANFEED_EXE_SUFFIX),
                  device_.HostPath(kManager));
  }

  void TearDown() override { SetEnvironment("LANFEED_RECORD_FILE", ""); }

  static void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
#else
    if (value.empty()) {
      unsetenv(name);
    } else {
      setenv(name, value.c_str(), 1);
    }
#endif
  }

  fs::path Installer() const {
    return device_.HostPath(std::string(kKitFolder) + "/LanFeedInstaller" LANFEED_EXE_SUFFIX);
  }

  void RegisterManager() {
    device_.SetValue(kAppManagerKeyPath, LF_TEXT(""), device_.ExternalPath(kManager));
  }

  // The parameter text the manager must receive.
  std::string ExpectedParameters() const {
    return "\"" + U8(device_.ExternalPath(kKitFolder)) + "\\INI\\LanFeedPlugin.ini\"";
  }

  std::vector<ManagerRun> ReadRuns() const {
    std::ifstream in(record_, std::ios::binary);
    std::vector<ManagerRun> runs;
    std::string line;
    while (std::getline(in, line)) {
      if (line == "run") {
        runs.emplace_back();
      } else if (!runs.empty() && line.rfind("arg:", 0) == 0) {
        runs.back().arguments.push_back(line.substr(4));
      } else if (!runs.empty() && line.rfind("raw:", 0) == 0) {
        runs.back().raw = line.substr(4);
      }
    }
    return runs;
  }

  // The manager runs on its own; wait (bounded) until it has recorded `count`
  // starts.
  std::vector<ManagerRun> WaitForRuns(std::size_t count) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    std::vector<ManagerRun> runs = ReadRuns();
    while (runs.size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      runs = ReadRuns();
    }
    return runs;
  }

  // How the manager sees one start by the launcher. Windows splits the command
  // line, so the quotes group the path into one argument and disappear; the
  // POSIX backend hands the parameter text over as one argument, quotes and all.
  void ExpectStartedWithIniPath(const ManagerRun& run) const {
    const std::string expected = ExpectedParameters();
#ifdef _WIN32
    ASSERT_EQ(run.arguments.size(), 1u);
    EXPECT_EQ(run.arguments[0], expected.substr(1, expected.size() - 2));
    ASSERT_GE(run.raw.size(), expected.size() + 1);
    EXPECT_EQ(run.raw.substr(run.raw.size() - expected.size() - 1), " " + expected);
#else
    ASSERT_EQ(run.arguments.size(), 1u);
    EXPECT_EQ(run.arguments[0], expected);
#endif
  }

  DeviceFixture device_;
  fs::path record_;
};

TEST_F(InstallerProgramTest, StartsTheManagerOnTheQuotedIniPathBesideTheProgram) {
  RegisterManager();
  EXPECT_EQ(RunProgram(Installer(), {}, kTimeoutMs), 0);
  std::vector<ManagerRun> runs = WaitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  ExpectStartedWithIniPath(runs[0]);
}

TEST_F(InstallerProgramTest, ArgumentsChangeNothingAndEveryRunStartsTheManager) {
  RegisterManager();
  EXPECT_EQ(RunProgram(Installer(), {}, kTimeoutMs), 0);
  EXPECT_EQ(RunProgram(Installer(), {"/x", "other folder\\file.ini"}, kTimeoutMs), 0);
  std::vector<ManagerRun> runs = WaitForRuns(2);
  ASSERT_EQ(runs.size(), 2u);
  ExpectStartedWithIniPath(runs[0]);
  ExpectStartedWithIniPath(runs[1]);
}

TEST_F(InstallerProgramTest, WithoutTheManagerNothingStartsAndTheExitCodeIsZero) {
  EXPECT_EQ(RunProgram(Installer(), {}, kTimeoutMs), 0);
  // A manager that cannot be started is not the launcher's failure either.
  device_.SetValue(kAppManagerKeyPath, LF_TEXT(""), device_.ExternalPath("Nowhere/CEAPPMGR.EXE"));
  EXPECT_EQ(RunProgram(Installer(), {}, kTimeoutMs), 0);

  // Then a run that does start it: its record must be the only one.
  RegisterManager();
  EXPECT_EQ(RunProgram(Installer(), {}, kTimeoutMs), 0);
  std::vector<ManagerRun> runs = WaitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  ExpectStartedWithIniPath(runs[0]);
}

}  // namespace
}  // namespace lanfeed::testing
