// A temporary folder that plays the device (or desktop) file system, plus the
// registry keys the setup code reads. On Linux the platform stand-ins are
// pointed at it (LANFEED_DEVICE_ROOT, LANFEED_REGISTRY_FILE); on Windows the
// real registry is written and the folder is an ordinary temporary folder.
// Every key the fixture may touch is deleted on construction and destruction.
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
  DeviceFixture();
  ~DeviceFixture();
  DeviceFixture(const DeviceFixture&) = delete;
  DeviceFixture& operator=(const DeviceFixture&) = delete;

  // The Windows path that the code under test uses for `relative` (slashes,
  // UTF-8) below the fixture's root; "" is the root itself.
  WString DevicePath(std::string_view relative) const;
  // The same place as the tests' own file system sees it.
  std::filesystem::path HostPath(std::string_view relative) const;

  // Registry under HKEY_LOCAL_MACHINE. An empty `name` is the default value.
  void SetValue(WStringView key, WStringView name, WStringView value);
  void RemoveKey(WStringView key);

  void WriteFile(std::string_view relative, const std::string& content) const;
  std::string ReadFile(std::string_view relative) const;  // "" when missing
  bool Exists(std::string_view relative) const;
  void MakeFolder(std::string_view relative) const;

 private:
  void WriteRegistryFile() const;

  std::filesystem::path root_;
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
