// Reading string values under HKEY_LOCAL_MACHINE.
//
// Windows: the system registry. Elsewhere: a stand-in backed by one UTF-8
// text file named by the environment variable LANFEED_REGISTRY_FILE (no
// variable or no file: an empty registry). The file is read again at every
// Open, so it may be edited between calls. Its format is that of a .reg file:
//
//   ; comment (also #)
//   [HKEY_LOCAL_MACHINE\Software\Apps\Veltrix Corvane]     (or [HKLM\...])
//   "InstallDir"="\\Program Files\\Corvane"
//   @="the key's default value"
//
// Inside the quotes \\ stands for one backslash and \" for a quote; any other
// backslash is taken literally, so "\Program Files\Corvane" works as well.
// Key paths and value names compare without regard to ASCII letter case, as
// on Windows. Sections of other hives and values that are not quoted strings
// (dword:, hex:) are skipped. A key repeated in the file adds its values to
// the earlier ones; a value named twice keeps the later text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

// Access masks for RegistryKey::OpenLocalMachine.
inline constexpr uint32_t kKeyQueryValue = 0x0001;      // KEY_QUERY_VALUE
inline constexpr uint32_t kKeyAllAccess = 0xF003F;      // KEY_ALL_ACCESS
inline constexpr uint32_t kMaximumAllowed = 0x02000000; // MAXIMUM_ALLOWED

// One open key. Closed by Close or the destructor; not copyable. Not
// thread-safe: one owner uses it.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `subkey` (backslash-separated) under HKEY_LOCAL_MACHINE with the
  // access mask `access`. Closes a key held before. Returns false when the key
  // does not exist or cannot be opened with that access (the stand-in, being
  // read-only, grants every access).
  bool OpenLocalMachine(const WChar* subkey, uint32_t access);

  // Reads the value `name` (null or empty: the key's default value) as text
  // into `dest` of `capacity` wide characters. The value's registry type plays
  // no part: its data are taken as UTF-16 up to the first NUL. Succeeds only
  // when the whole text and its terminator fit; on failure `dest` is left
  // exactly as it was (nothing is written).
  bool ReadString(const WChar* name, WChar* dest, std::size_t capacity) const;

  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;  // HKEY on Windows; the stand-in's value list elsewhere
};

}  // namespace lanfeed
