// The registry's test root (platform/registry.h). A file of its own: only test
// programs and the process entry of programs link it, so the device libraries
// never import the desktop-only calls it makes.
#include <windows.h>

#include "platform/internal/registry_root.h"
#include "platform/registry.h"

namespace lanfeed {

namespace {
constexpr const wchar_t* kRootVariable = L"LANFEED_REGISTRY_ROOT";
}  // namespace

bool SetRegistryRootForTesting(const WChar* name) {
  if (name == nullptr || *name == 0) {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    SetEnvironmentVariableW(kRootVariable, nullptr);
    return true;
  }
  WString path = WString(kRegistryTestRoots) + L"\\" + name;
  HKEY root = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &root, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // The system keeps its own reference to the key; ours can go at once.
  const LONG result = RegOverridePredefKey(HKEY_LOCAL_MACHINE, root);
  RegCloseKey(root);
  if (result != ERROR_SUCCESS) return false;
  SetEnvironmentVariableW(kRootVariable, name);
  return true;
}

namespace internal {

void InheritRegistryRoot() {
  wchar_t name[kMaxPath];
  const DWORD length = GetEnvironmentVariableW(kRootVariable, name, kMaxPath);
  if (length > 0 && length < kMaxPath) SetRegistryRootForTesting(name);
}

}  // namespace internal
}  // namespace lanfeed
