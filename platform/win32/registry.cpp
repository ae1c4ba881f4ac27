#include "platform/registry.h"

#include <windows.h>

#include <vector>

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
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD got = bytes;
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &got) !=
      ERROR_SUCCESS) {
    return false;  // e.g. the value grew between the two calls
  }
  std::size_t chars = got / sizeof(wchar_t);
  std::size_t length = 0;
  while (length < chars && data[length] != L'\0') ++length;
  if (length + 1 > capacity) return false;
  for (std::size_t i = 0; i < length; ++i) dest[i] = data[i];
  dest[length] = L'\0';
  return true;
}

void RegistryKey::Close() {
  if (handle_ != nullptr) {
    RegCloseKey(static_cast<HKEY>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace lanfeed
