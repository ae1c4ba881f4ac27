// lanfeed-host's OS services on Windows.
#include "host/host_os.h"

#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>
#include <system_error>

#include "platform/event.h"
#include "platform/text.h"

namespace lanfeed::host::os {

const char* PluginFileName() { return "LanFeedPlugin.dll"; }

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return ToUtf8(WStringView(buffer.data(), length));
    buffer.resize(buffer.size() * 4);  // cut: try a bigger buffer
  }
  return std::string();
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(FromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool LocalTime(std::time_t time, std::tm* local) { return localtime_s(local, &time) == 0; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(WStringView(wide[i], WStrLen(wide[i]))));
  LocalFree(wide);
  return arguments;
}

void PrepareProcess() {
  // The C runtime's streams, should anything use them, pass bytes unchanged;
  // the host's own writes go to the handles directly.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The host writes UTF-8; a console shows it as such.
  SetConsoleOutputCP(CP_UTF8);
}

WriteStatus WriteStream(StandardStream stream, const char* data, std::size_t size, std::size_t* written,
                        std::string* error, std::chrono::milliseconds /*wait*/) {
  HANDLE handle = GetStdHandle(stream == StandardStream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    *error = "no such stream";
    return WriteStatus::kClosed;
  }
  DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  DWORD done = 0;
  if (WriteFile(handle, data, chunk, &done, nullptr) && done > 0) {
    *written = done;
    return WriteStatus::kWritten;
  }
  DWORD code = GetLastError();
  *error = std::system_category().message(static_cast<int>(code));
  return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA ? WriteStatus::kClosed : WriteStatus::kFailed;
}

void ExitNow(int code) { ExitProcess(static_cast<UINT>(code)); }

// The console control handler runs on a thread the system creates for each
// event. Ctrl-C and Ctrl-Break return at once; a console close, log-off or
// shut-down ends the process when its handler returns, so that handler
// waits for StopCompleted (at most 4 s; the system allows about 5) and then
// for the process's exit.
struct SignalWatcher::State {
  std::mutex mutex;
  Handler handler;
  ManualResetEvent stopped;  // set by StopCompleted
  bool installed = false;
};

namespace {
SignalWatcher::State* g_watcher = nullptr;  // the one watcher's state, once started

BOOL WINAPI OnConsoleControl(DWORD type) {
  SignalWatcher::State* state = g_watcher;
  if (state == nullptr) return FALSE;
  Signal signal;
  switch (type) {
    case CTRL_C_EVENT: signal = {SignalKind::kInterrupt, "Ctrl-C"}; break;
    case CTRL_BREAK_EVENT: signal = {SignalKind::kTerminate, "Ctrl-Break"}; break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: signal = {SignalKind::kTerminate, "console close"}; break;
    default: return FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(state->mutex);  // one signal at a time
    if (!state->handler) return FALSE;                // no longer watched: the default applies
    state->handler(signal);
  }
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
  // The system ends the process when this returns (and a few seconds after
  // the event in any case). After the completed stop, this thread waits for
  // main's exit, which ends it with the process, so the exit code is the
  // host's own: 0 after a clean stop.
  if (state->stopped.Wait(4000)) Sleep(INFINITE);
  return TRUE;
}
}  // namespace

SignalWatcher::SignalWatcher() : state_(std::make_unique<State>()) {}

SignalWatcher::~SignalWatcher() {
  Stop();
  // The system may have started a handler thread that has not reached the
  // state yet, so the state (a few bytes and one event) lives until the
  // process ends.
  state_.release();
}

void SignalWatcher::Stop() {
  if (state_->installed) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  state_->installed = false;
  // Under the lock: a handler call in progress ends before this returns.
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->handler = nullptr;
}

bool SignalWatcher::Start(Handler handler, std::string* error) {
  if (state_->installed || (g_watcher != nullptr && g_watcher != state_.get())) {
    *error = "the console control handler is installed already";
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->handler = std::move(handler);
  }
  g_watcher = state_.get();
  // A process group of its own starts with Ctrl-C ignored; the host's
  // handler takes it again (a handler is called only where it is not).
  SetConsoleCtrlHandler(nullptr, FALSE);
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    g_watcher = nullptr;
    *error = "cannot install the console control handler: " +
             std::system_category().message(static_cast<int>(GetLastError()));
    return false;
  }
  state_->installed = true;
  return true;
}

void SignalWatcher::StopCompleted() {
  // A close handler waiting for this may now let the process end.
  state_->stopped.Set();
}

}  // namespace lanfeed::host::os
