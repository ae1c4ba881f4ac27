// Opening a file by its UTF-8 path, on every system. The configuration tree
// reads and writes its files through this, so a path with any characters
// works: on Windows the path goes to the wide (UTF-16) API, never through
// the ANSI code page. The build compiles exactly one implementation:
// host/posix/host_files.cpp or host/win32/host_files.cpp.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace lanfeed::host::os {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// fopen with `mode` ("rb", "wb", ...); null with errno set on failure.
File OpenFile(const std::string& path, const char* mode);

}  // namespace lanfeed::host::os
