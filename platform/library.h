// Loading a shared library by file name and looking up its exports.
#pragma once

#include <string>

namespace lanfeed {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();  // unloads
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the library at `path` (UTF-8). On failure returns false and
  // `error` describes why.
  bool Load(const std::string& path, std::string* error);
  void* Find(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace lanfeed
