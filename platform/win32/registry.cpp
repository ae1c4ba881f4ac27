#include "platform/registry.h"

#include <windows.h>

#include <new>

namespace lanfeed {

RegistryKey::~RegistryKey() { Close(); }

bool RegistryKey::OpenLocalMachine(const WChar* subkey, uint32_t access) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, access, &key) != ERROR_SUCCESS) return false;
  handle_ = key;
  return true;
}

bool RegistryKey::ReadString(const WChar* name, WChar* dest, std::size_t capacity) const {
  if (handle_ == nullptr || dest == nullptr) return false;
  HKEY key = static_cast<HKEY>(handle_);
  // The data go into a scratch buffer first: a value that does not fit must
  // leave `dest` untouched, and the system leaves a too-small buffer undefined.
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return false;
  const std::size_t room = bytes / sizeof(wchar_t) + 1;
  wchar_t* data = new (std::nothrow) wchar_t[room]();
  if (data == nullptr) return false;
  DWORD got = bytes;
  bool fits = false;
  // A failure here is e.g. a value that grew between the two calls.
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &got) == ERROR_SUCCESS) {
    const std::size_t chars = got / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < chars && data[length] != L'\0') ++length;
    fits = length + 1 <= capacity;
    if (fits) {
      for (std::size_t i = 0; i < length; ++i) dest[i] = data[i];
      dest[length] = L'\0';
    }
  }
  delete[] data;
  return fits;
}

void RegistryKey::Close() {
  if (handle_ != nullptr) {
    RegCloseKey(static_cast<HKEY>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace lanfeed
