// A temporary folder that plays the device (or desktop) file system, plus the
// registry keys the setup code reads. The fixture owns the test roots of the
// registry and file services (platform/registry.h, platform/files.h) for its
// lifetime: HKEY_LOCAL_MACHINE stands for a key of its own under
// HKEY_CURRENT_USER\Software\LanFeedTests, and rooted paths lie below its
// folder, on every backend. It deletes its key and its folder at the end, and
// never writes or deletes a machine's own keys. One fixture at a time: the
// roots are process-wide.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace lanfeed::testing {

class DeviceFixture {
 public:
  DeviceFixture();  // throws when the test roots cannot be set
  ~DeviceFixture();
  DeviceFixture(const DeviceFixture&) = delete;
  DeviceFixture& operator=(const DeviceFixture&) = delete;

  // The rooted Windows path that code of this test program uses for
  // `relative` (slashes, UTF-8) below the fixture's root; "" is the root.
  WString DevicePath(std::string_view relative) const;
  // The path of the same place for a library that the test loads or a program
  // that it starts: on Windows the folder's full path (the file service's
  // test root holds only for the test's own module), elsewhere DevicePath.
  WString ExternalPath(std::string_view relative) const;
  // The same place as the tests' own file system sees it.
  std::filesystem::path HostPath(std::string_view relative) const;

  // The name of the fixture's registry root under kRegistryTestRoots.
  const WString& RegistryRoot() const { return registry_root_; }

  // Registry under (the fixture's stand-in for) HKEY_LOCAL_MACHINE. An empty
  // `name` is the default value.
  void SetValue(WStringView key, WStringView name, WStringView value);
  void RemoveKey(WStringView key);

  void WriteFile(std::string_view relative, const std::string& content) const;
  std::string ReadFile(std::string_view relative) const;  // "" when missing
  bool Exists(std::string_view relative) const;
  void MakeFolder(std::string_view relative) const;

 private:
  void WriteRegistryFile() const;

  std::filesystem::path root_;
  WString registry_root_;
  // Stand-in registry contents, in insertion order (unused on Windows).
  std::vector<std::pair<WString, std::vector<std::pair<WString, WString>>>> keys_;
};

// Registry keys the product reads.
inline constexpr const WChar* kCorvaneKeyPath = LF_TEXT("Software\\Apps\\Veltrix Corvane");
inline constexpr const WChar* kPackageKeyPath =
    LF_TEXT("Software\\Apps\\Veltrix LAN Feed Plugin for Corvane");
inline constexpr const WChar* kAppManagerKeyPath =
    LF_TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE");

// The folder holding the running test program.
std::filesystem::path ProgramFolder();

// Text helpers for assertions.
WString W(std::string_view utf8);
std::string U8(WStringView text);

}  // namespace lanfeed::testing
