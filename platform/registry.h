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
//
// Test root: SetRegistryRootForTesting(name) makes HKEY_LOCAL_MACHINE stand for
// HKEY_CURRENT_USER\Software\LanFeedTests\<name>, so that a test reads only
// keys it created there and never a machine's own. The redirect holds for the
// whole process and for the programs it starts afterwards:
// - Windows: RegOverridePredefKey redirects every module of the process,
//   libraries under test included; started programs get the name in the
//   environment variable LANFEED_REGISTRY_ROOT, which the process entry of a
//   program built on this layer applies (platform/win32/entry).
// - Elsewhere: the stand-in reads the sections of that HKEY_CURRENT_USER key
//   (also written [HKCU\...]) instead of HKEY_LOCAL_MACHINE; the name is kept
//   in LANFEED_REGISTRY_ROOT, which every copy of the stand-in reads.
// Without a test root the redirect code does nothing and the deliverables read
// HKEY_LOCAL_MACHINE. Set it only while no other thread opens keys.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

// Access masks for RegistryKey::OpenLocalMachine.
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

 private:
  void* handle_ = nullptr;  // HKEY on Windows; the stand-in's value list elsewhere
};

// The parent of every test root, under HKEY_CURRENT_USER.
inline constexpr const WChar* kRegistryTestRoots = LF_TEXT("Software\\LanFeedTests");

// Redirects HKEY_LOCAL_MACHINE to kRegistryTestRoots\<name> under
// HKEY_CURRENT_USER (Windows: creating that key when missing). A null or empty
// name lifts the redirect. Returns false, with nothing redirected, when the
// redirect cannot be set; a test must then not go on to write keys.
bool SetRegistryRootForTesting(const WChar* name);

}  // namespace lanfeed
