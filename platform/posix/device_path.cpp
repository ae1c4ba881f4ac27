#include "platform/posix/device_path.h"

#include <dirent.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace lanfeed::posix {

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Join(const std::string& base, const std::string& name) {
  if (base.empty()) return name;
  if (base.back() == '/') return base + name;
  return base + "/" + name;
}

// The entry of `folder` that equals `name` apart from case: an exact match
// first, else the first such entry in directory order; `name` itself when
// there is none.
std::string ResolveComponent(const std::string& folder, const std::string& name) {
  if (name == "." || name == ".." || Exists(Join(folder, name))) return name;
  // Closed however the scan ends, also when a copy below runs out of memory.
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), &closedir);
  if (dir == nullptr) return name;
  std::string found = name;
  while (dirent* entry = readdir(dir.get())) {
    if (SameNameIgnoringCase(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  return found;
}

}  // namespace

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string MapDevicePath(const WChar* path) {
  if (path == nullptr) return std::string();
  std::string text = ToUtf8(WStringView(path, WStrLen(path)));
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  if (text.empty()) return text;

  std::string mapped;
  if (text.front() == '/') {
    const char* root = std::getenv("LANFEED_DEVICE_ROOT");
    mapped = (root != nullptr && *root != 0) ? std::string(root) : std::string("/");
  }
  bool trailing_separator = text.back() == '/';

  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      std::string name = text.substr(start, end - start);
      mapped = Join(mapped, ResolveComponent(mapped, name));
    }
    start = end + 1;
  }
  if (trailing_separator && !mapped.empty() && mapped.back() != '/') mapped += '/';
  return mapped;
}

WString UnmapDevicePath(const std::string& host_path) {
  std::string text = host_path;
  const char* root_env = std::getenv("LANFEED_DEVICE_ROOT");
  std::string root = root_env != nullptr ? root_env : "";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!root.empty() && root != "/" && text.size() > root.size() &&
      text.compare(0, root.size(), root) == 0 && text[root.size()] == '/') {
    text.erase(0, root.size());
  }
  WString path = FromUtf8(text);
  for (WChar& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace lanfeed::posix
