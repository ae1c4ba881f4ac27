#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/posix/device_path.h"

namespace lanfeed {

namespace fs = std::filesystem;

namespace {

bool StatPath(const std::string& path, struct stat* st) {
  return !path.empty() && stat(path.c_str(), st) == 0;
}

}  // namespace

bool CopyFileOverwrite(const WChar* source, const WChar* target) {
  return posix::FailOnNoMemory(false, [&] {
    std::string from = posix::MapDevicePath(source);
    std::string to = posix::MapDevicePath(target);
    struct stat st;
    if (!StatPath(from, &st) || !S_ISREG(st.st_mode) || to.empty()) return false;
    std::error_code error;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error) && !error;
  });
}

bool DeleteFileAt(const WChar* path) {
  return posix::FailOnNoMemory(false, [&] {
    std::string mapped = posix::MapDevicePath(path);
    struct stat st;
    if (mapped.empty() || lstat(mapped.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(mapped.c_str()) == 0;
  });
}

bool CreateFolder(const WChar* path) {
  return posix::FailOnNoMemory(false, [&] {
    std::string mapped = posix::MapDevicePath(path);
    return !mapped.empty() && mkdir(mapped.c_str(), 0777) == 0;
  });
}

bool RemoveFolder(const WChar* path) {
  return posix::FailOnNoMemory(false, [&] {
    std::string mapped = posix::MapDevicePath(path);
    return !mapped.empty() && rmdir(mapped.c_str()) == 0;
  });
}

bool FindFirstAttributes(const WChar* path, uint32_t* attributes) {
  return posix::FailOnNoMemory(false, [&] {
    std::string mapped = posix::MapDevicePath(path);
    struct stat st;
    if (!StatPath(mapped, &st)) return false;
    uint32_t result = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
    if ((st.st_mode & S_IWUSR) == 0) result |= kFileAttributeReadOnly;
    if (attributes != nullptr) *attributes = result;
    return true;
  });
}

void SetDeviceRootForTesting(const WChar* folder) {
  if (folder == nullptr || *folder == 0) {
    unsetenv("LANFEED_DEVICE_ROOT");
  } else {
    setenv("LANFEED_DEVICE_ROOT", ToUtf8(folder).c_str(), 1);
  }
}

bool SetAttributes(const WChar* path, uint32_t attributes) {
  return posix::FailOnNoMemory(false, [&] {
    std::string mapped = posix::MapDevicePath(path);
    struct stat st;
    if (!StatPath(mapped, &st)) return false;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kFileAttributeReadOnly) != 0 ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    return chmod(mapped.c_str(), mode) == 0;
  });
}

}  // namespace lanfeed
