// POSIX backend of the process service: the command line behind
// process_common.cpp (internal/system_calls.h), and ProgramFilePath.
// win32/process.cpp is the Windows one.
#include "platform/process.h"

#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/posix/device_path.h"
#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace system_calls {

// The arguments from /proc/self/cmdline joined by blanks, read once.
const WChar* CommandLine() {
  static std::once_flag once;
  static WString line;
  std::call_once(once, [] {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    for (char& c : raw) {
      if (c == '\0') c = ' ';
    }
    line = FromUtf8(raw);
  });
  return line.c_str();
}

}  // namespace system_calls

bool ProgramFilePath(WChar* dest, std::size_t capacity) {
  if (dest == nullptr) return false;
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(buffer)) return false;
  WString path = posix::UnmapDevicePath(std::string(buffer, static_cast<std::size_t>(length)));
  if (path.size() + 1 > capacity) return false;
  return WStrCopy(dest, capacity, path.c_str());
}

}  // namespace lanfeed
