// ChildProcess on Windows: CreateProcessW with two pipes, console control
// events to stop the child, the process handle for its exit code.
//
// Stopping: console control events reach the processes attached to the
// sender's console, so every child shares this process's console and starts
// in a process group of its own (CREATE_NEW_PROCESS_GROUP), which lets
// GenerateConsoleCtrlEvent address it alone. Such a group starts with Ctrl-C
// ignored; a program that stops on Ctrl-C takes it back, as lanfeed-host
// does. Wine's console delivers Ctrl-C to a group this way but no Ctrl-Break
// (GenerateConsoleCtrlEvent fails), which RequestStop then reports.
#include "tests/host/child_process.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/text.h"

namespace lanfeed::testing {

struct ChildProcess::Native {
  HANDLE process = nullptr;
  DWORD pid = 0;
  HANDLE out = nullptr;  // reading ends of the child's stdout and stderr
  HANDLE err = nullptr;
  ExitStatus status;  // once it has ended
};

namespace {
using Clock = std::chrono::steady_clock;

void CloseHandleAt(HANDLE* handle) {
  if (*handle != nullptr) CloseHandle(*handle);
  *handle = nullptr;
}

std::string LastErrorText(const char* call) { return std::string(call) + " failed with error " + std::to_string(GetLastError()); }

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, L'\\');  // before the closing quote
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted.push_back(argument[i]);
  }
  quoted.push_back(L'"');
  return quoted;
}

// Gives this process a console of its own when it has none that a child
// could share (a program that Wine starts with its output redirected has
// only a placeholder, on which no console call works). The standard handles
// stay as they were.
void EnsureConsole() {
  static bool done = false;
  if (done) return;
  done = true;
  DWORD process = 0;
  if (GetConsoleProcessList(&process, 1) != 0) return;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  FreeConsole();
  AllocConsole();
  SetStdHandle(STD_INPUT_HANDLE, in);
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  SetStdHandle(STD_ERROR_HANDLE, err);
}

ExitStatus StatusOf(DWORD code) {
  ExitStatus status;
  char text[40];
  if (code < 0xC0000000u) {
    status.exited = true;
    status.code = static_cast<int>(code);
    status.text = "exit code " + std::to_string(code);
  } else {
    std::snprintf(text, sizeof(text), "ended with status 0x%08lX", static_cast<unsigned long>(code));
    status.text = text;
  }
  return status;
}

bool RunsUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
}  // namespace

ChildProcess::ChildProcess() : native_(std::make_unique<Native>()) {}

ChildProcess::~ChildProcess() {
  if (native_->process != nullptr) {
    TerminateProcess(native_->process, 1);
    WaitForSingleObject(native_->process, 10000);
    CloseHandleAt(&native_->process);
  }
  CloseHandleAt(&native_->out);
  CloseHandleAt(&native_->err);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error) {
  EnsureConsole();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outWrite = nullptr;
  HANDLE errWrite = nullptr;
  HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                               0, nullptr);
  bool ready = nothing != INVALID_HANDLE_VALUE;
  if (!ready) {
    nothing = nullptr;
    *error = LastErrorText("CreateFileW(NUL)");
  }
  // 64 KiB, as a Linux pipe holds: a child that writes more blocks.
  if (ready && !(CreatePipe(&native_->out, &outWrite, &inheritable, 65536) &&
                 CreatePipe(&native_->err, &errWrite, &inheritable, 65536))) {
    ready = false;
    *error = LastErrorText("CreatePipe");
  }
  if (ready) {
    SetHandleInformation(native_->out, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(native_->err, HANDLE_FLAG_INHERIT, 0);
  }

  // Only these three handles are inherited: no socket or pipe of the test
  // (all inheritable on Windows) may outlive it in a child.
  HANDLE inherited[3] = {nothing, outWrite, errWrite};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  bool listed = ready && InitializeProcThreadAttributeList(attributes, 1, 0, &size);
  if (ready && !(listed && UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                     sizeof(inherited), nullptr, nullptr))) {
    ready = false;
    *error = LastErrorText("the inherited handle list");
  }

  if (ready) {
    std::wstring line;
    for (const std::string& argument : argv) {
      if (!line.empty()) line += L' ';
      line += Quoted(FromUtf8(argument));
    }
    std::wstring program = FromUtf8(argv[0]);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nothing;
    startup.StartupInfo.hStdOutput = outWrite;
    startup.StartupInfo.hStdError = errWrite;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       EXTENDED_STARTUPINFO_PRESENT | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                       &startup.StartupInfo, &started)) {
      CloseHandle(started.hThread);
      native_->process = started.hProcess;
      native_->pid = started.dwProcessId;
    } else {
      ready = false;
      *error = "cannot start " + argv[0] + ": " + LastErrorText("CreateProcessW");
    }
  }
  if (listed) DeleteProcThreadAttributeList(attributes);
  // The child holds its own copies; the reading ends see the end of the
  // output once the child (the only writer left) has ended.
  CloseHandleAt(&nothing);
  CloseHandleAt(&outWrite);
  CloseHandleAt(&errWrite);
  if (!ready) {
    CloseHandleAt(&native_->out);
    CloseHandleAt(&native_->err);
  }
  return ready;
}

bool ChildProcess::Pump(std::chrono::milliseconds budget) {
  // Anonymous pipes cannot be waited on: peek at both, read what is there,
  // and sleep briefly while nothing is.
  auto deadline = Clock::now() + budget;
  for (;;) {
    bool read = false;
    for (int i = 0; i < 2; ++i) {
      HANDLE* pipe = i == 0 ? &native_->out : &native_->err;
      if (*pipe == nullptr || (i == 0 && !readStdout_)) continue;
      DWORD available = 0;
      if (!PeekNamedPipe(*pipe, nullptr, 0, nullptr, &available, nullptr)) {
        CloseHandleAt(pipe);  // the writer has gone: the end of this stream
        continue;
      }
      if (available == 0) continue;
      char buffer[65536];
      DWORD count = 0;
      if (!ReadFile(*pipe, buffer, std::min<DWORD>(available, sizeof(buffer)), &count, nullptr)) {
        CloseHandleAt(pipe);
        continue;
      }
      read = true;
      if (i == 1) {
        err_.append(buffer, count);
      } else if (TakeStdout(buffer, count)) {
        CloseHandleAt(pipe);
      }
    }
    bool open = native_->out != nullptr || native_->err != nullptr;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (read || !open || left.count() <= 0) return open;
    Sleep(static_cast<DWORD>(std::min<long long>(left.count(), 5)));
  }
}

bool ChildProcess::RequestStop(StopRequest request, std::string* reason) {
  if (native_->process == nullptr) {
    *reason = "the child does not run";
    return false;
  }
  DWORD event = request == StopRequest::kInterrupt ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
  if (GenerateConsoleCtrlEvent(event, native_->pid)) return true;
  *reason = std::string("cannot send ") + StopName(request) + " to the child: " +
            LastErrorText("GenerateConsoleCtrlEvent");
  if (RunsUnderWine()) *reason += " (Wine's console delivers Ctrl-C only)";
  return false;
}

const char* ChildProcess::StopName(StopRequest request) {
  return request == StopRequest::kInterrupt ? "Ctrl-C" : "Ctrl-Break";
}

long ChildProcess::processId() const { return native_->process != nullptr ? static_cast<long>(native_->pid) : -1; }

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, ExitStatus* status) {
  auto deadline = Clock::now() + timeout;
  bool inTime = true;
  while (native_->process != nullptr) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    bool ended = WaitForSingleObject(native_->process, 0) == WAIT_OBJECT_0;
    if (!ended && left.count() <= 0) {
      TerminateProcess(native_->process, 1);
      WaitForSingleObject(native_->process, 10000);
      inTime = false;
      ended = true;
    }
    if (ended) {
      DWORD code = 1;
      GetExitCodeProcess(native_->process, &code);
      native_->status = StatusOf(code);
      CloseHandleAt(&native_->process);
      break;
    }
    if (!Pump(std::min(left, std::chrono::milliseconds(50)))) Sleep(10);  // only the exit is left
  }
  *status = native_->status;
  if (!inTime) return false;
  // Collect what the child wrote before it exited (stdout only if read).
  for (int i = 0; i < 100 && Pump(std::chrono::milliseconds(20)); ++i) {
    if ((native_->out == nullptr || !readStdout_) && native_->err == nullptr) break;
  }
  return true;
}

}  // namespace lanfeed::testing
