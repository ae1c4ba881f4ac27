// Files by UTF-8 path on Windows: the path and mode go to _wfopen as UTF-16.
#include "host/host_files.h"

#include <cerrno>

#include "platform/text.h"

namespace lanfeed::host::os {

File OpenFile(const std::string& path, const char* mode) {
  if (path.find('\0') != std::string::npos) {  // would name another file
    errno = EINVAL;
    return File();
  }
  return File(_wfopen(FromUtf8(path).c_str(), FromUtf8(mode).c_str()));
}

}  // namespace lanfeed::host::os
