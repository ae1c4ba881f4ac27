#include "bench/process_info.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {

// The number after "name:" in the file at `path`, or -1.
long FieldOf(const char* path, const char* name) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return -1;
  const std::size_t length = std::strlen(name);
  char line[256];
  long value = -1;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
      value = std::strtol(line + length + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(file);
  return value;
}

}  // namespace

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

long StatusField(const char* name) { return FieldOf("/proc/self/status", name); }

long PssKb() { return FieldOf("/proc/self/smaps_rollup", "Pss"); }

int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;  // the directory's own descriptor
}

std::string DescribeDescriptors() {
  std::string text;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return text;
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
    char target[256];
    ssize_t length = readlinkat(own, entry->d_name, target, sizeof target - 1);
    target[length > 0 ? length : 0] = 0;
    text += (text.empty() ? "" : "; ") + std::string(entry->d_name) + " " + target;
  }
  closedir(dir);
  return text;
}

long RaiseDescriptorLimit(long wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur < static_cast<rlim_t>(wanted)) {
    rlim_t target = static_cast<rlim_t>(wanted);
    if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
    limit.rlim_cur = target;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<long>(limit.rlim_cur);
}

}  // namespace bench
