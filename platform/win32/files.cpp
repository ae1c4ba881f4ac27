#include "platform/files.h"

#include <windows.h>

namespace lanfeed {

bool CopyFileOverwrite(const WChar* source, const WChar* target) {
  return CopyFileW(source, target, FALSE) != FALSE;
}

bool DeleteFileAt(const WChar* path) { return DeleteFileW(path) != FALSE; }

bool CreateFolder(const WChar* path) { return CreateDirectoryW(path, nullptr) != FALSE; }

bool RemoveFolder(const WChar* path) { return RemoveDirectoryW(path) != FALSE; }

bool FindFirstAttributes(const WChar* path, uint32_t* attributes) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  if (attributes != nullptr) *attributes = data.dwFileAttributes;
  return true;
}

bool SetAttributes(const WChar* path, uint32_t attributes) {
  return SetFileAttributesW(path, attributes) != FALSE;
}

}  // namespace lanfeed
