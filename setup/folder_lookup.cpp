#include "setup/folder_lookup.h"

#include "platform/registry.h"

namespace lanfeed::setup {

bool LookUpFolder(const WChar* key_path, WChar* dest, std::size_t capacity) {
  if (dest == nullptr || capacity == 0) return false;
  RegistryKey key;  // closed on every return
  if (!key.OpenLocalMachine(key_path, kKeyAllAccess)) return false;
  WChar value[kMaxPath] = {};
  if (!key.ReadString(LF_TEXT("InstallDir"), value, kMaxPath) &&
      !key.ReadString(LF_TEXT("InstlDir"), value, kMaxPath)) {
    return false;
  }
  if (WStrLen(value) + 1 > capacity) return false;
  return WStrCopy(dest, capacity, value);
}

}  // namespace lanfeed::setup
