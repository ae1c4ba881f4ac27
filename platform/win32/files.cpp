#include "platform/files.h"

#include <windows.h>

#include <new>

namespace lanfeed {

namespace {

// The test root without a trailing backslash, our own copy; null: none.
WChar* g_root = nullptr;

// The path handed to the system: below the test root when one is set and the
// path is rooted, else the caller's own text (no copy is made). A mapped path
// that cannot be allocated is null, which every system call refuses.
class SystemPath {
 public:
  explicit SystemPath(const WChar* path) : path_(path) {
    if (g_root != nullptr && path != nullptr && path[0] == L'\\' && path[1] != L'\\') {
      const std::size_t rootLength = WStrLen(g_root);
      const std::size_t pathLength = WStrLen(path);
      mapped_ = new (std::nothrow) WChar[rootLength + pathLength + 1];
      if (mapped_ != nullptr) {
        WStrCopy(mapped_, rootLength + 1, g_root);
        WStrCopy(mapped_ + rootLength, pathLength + 1, path);
      }
      path_ = mapped_;
    }
  }
  ~SystemPath() { delete[] mapped_; }
  SystemPath(const SystemPath&) = delete;
  SystemPath& operator=(const SystemPath&) = delete;

  const WChar* get() const { return path_; }

 private:
  const WChar* path_;
  WChar* mapped_ = nullptr;
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
  delete[] g_root;
  g_root = nullptr;
  std::size_t length = WStrLen(folder);
  while (length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) --length;
  if (length == 0) return;
  g_root = WStrDup(folder);
  if (g_root != nullptr) g_root[length] = 0;
}

}  // namespace lanfeed
