#include "platform/files.h"

#include <windows.h>

namespace lanfeed {

namespace {

WString g_root;  // the test root without a trailing backslash; empty: none

// The path handed to the system: below the test root when one is set and the
// path is rooted, else the caller's own text (no copy is made).
class SystemPath {
 public:
  explicit SystemPath(const WChar* path) : path_(path) {
    if (!g_root.empty() && path != nullptr && path[0] == L'\\' && path[1] != L'\\') {
      mapped_ = g_root + path;
      path_ = mapped_.c_str();
    }
  }
  SystemPath(const SystemPath&) = delete;
  SystemPath& operator=(const SystemPath&) = delete;

  const WChar* get() const { return path_; }

 private:
  const WChar* path_;
  WString mapped_;
};

}  // namespace

bool CopyFileOverwrite(const WChar* source, const WChar* target) {
  return CopyFileW(SystemPath(source).get(), SystemPath(target).get(), FALSE) != FALSE;
}

bool DeleteFileAt(const WChar* path) { return DeleteFileW(SystemPath(path).get()) != FALSE; }

bool CreateFolder(const WChar* path) {
  return CreateDirectoryW(SystemPath(path).get(), nullptr) != FALSE;
}

bool RemoveFolder(const WChar* path) { return RemoveDirectoryW(SystemPath(path).get()) != FALSE; }

bool FindFirstAttributes(const WChar* path, uint32_t* attributes) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(SystemPath(path).get(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  if (attributes != nullptr) *attributes = data.dwFileAttributes;
  return true;
}

bool SetAttributes(const WChar* path, uint32_t attributes) {
  return SetFileAttributesW(SystemPath(path).get(), attributes) != FALSE;
}

void SetDeviceRootForTesting(const WChar* folder) {
  g_root = folder == nullptr ? WString() : WString(folder);
  while (!g_root.empty() && (g_root.back() == L'\\' || g_root.back() == L'/')) g_root.pop_back();
}

}  // namespace lanfeed
