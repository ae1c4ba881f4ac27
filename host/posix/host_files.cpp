// Files by UTF-8 path on POSIX: paths are bytes, UTF-8 as they are.
#include "host/host_files.h"

#include <cerrno>

namespace lanfeed::host::os {

File OpenFile(const std::string& path, const char* mode) {
  if (path.find('\0') != std::string::npos) {  // would name another file
    errno = EINVAL;
    return File();
  }
  return File(std::fopen(path.c_str(), mode));
}

}  // namespace lanfeed::host::os
