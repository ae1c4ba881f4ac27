#include "run_program.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;
#endif

namespace lanfeed::testing {

#ifdef _WIN32
namespace {
// Quoting by the rules of CommandLineToArgvW, for arguments without quotes.
std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }
}  // namespace

int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               int timeout_ms) {
  std::wstring line = Quote(program.wstring());
  for (const std::string& argument : arguments) {
    line += L" " + Quote(std::filesystem::path(argument).wstring());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  int result = -2;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result = static_cast<int>(code);
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  return result;
}
#else
int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               int timeout_ms) {
  std::string path = program.string();
  std::vector<std::string> storage(arguments);
  std::vector<char*> argv{path.data()};
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace lanfeed::testing
