#include "platform/library.h"

#include <windows.h>

#include "platform/text.h"

namespace lanfeed {

SharedLibrary::~SharedLibrary() { Unload(); }

bool SharedLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  WString wide = FromUtf8(path);
  handle_ = LoadLibraryW(wide.c_str());
  if (handle_ == nullptr && error != nullptr) {
    *error = "LoadLibraryW failed with error " + std::to_string(GetLastError()) + " for " + path;
  }
  return handle_ != nullptr;
}

void* SharedLibrary::Find(const char* name) const {
  return handle_ != nullptr
             ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
             : nullptr;
}

void SharedLibrary::Unload() {
  if (handle_ != nullptr) {
    FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace lanfeed
