// The registry look-up of an installed folder, and bounded path building.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/registry.h"
#include "setup/folder_lookup.h"
#include "setup/package_files.h"

namespace lanfeed::testing {
namespace {

using setup::LookUpFolder;

WString Repeat(WChar c, std::size_t count) { return WString(count, c); }

TEST(FolderLookUp, ValueChoice) {
  struct Case {
    const char* name;
    WString install_dir;  // empty: value absent
    WString instl_dir;
    bool found;
    WString expected;
  };
  const WString a = LF_TEXT("\\Program Files\\Corvane");
  const WString b = LF_TEXT("\\Storage Card\\Corvane");
  const Case cases[] = {
      {"InstallDir only", a, WString(), true, a},
      {"InstlDir only", WString(), b, true, b},
      {"both: InstallDir wins", a, b, true, a},
      {"neither", WString(), WString(), false, WString()},
      {"InstallDir of 259 characters", Repeat('p', 259), b, true, Repeat('p', 259)},
      {"InstallDir too long falls back", Repeat('p', 260), b, true, b},
      {"both too long", Repeat('p', 260), Repeat('q', 300), false, WString()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceFixture device;
    device.SetValue(kCorvaneKeyPath, LF_TEXT("Version"), LF_TEXT("3.1"));  // the key exists
    if (!c.install_dir.empty()) device.SetValue(kCorvaneKeyPath, LF_TEXT("InstallDir"), c.install_dir);
    if (!c.instl_dir.empty()) device.SetValue(kCorvaneKeyPath, LF_TEXT("InstlDir"), c.instl_dir);

    WChar folder[kMaxPath] = LF_TEXT("unchanged");
    EXPECT_EQ(LookUpFolder(setup::kCorvaneKey, folder, kMaxPath), c.found);
    EXPECT_EQ(WString(folder), c.found ? c.expected : WString(LF_TEXT("unchanged")));
  }
}

TEST(FolderLookUp, KeyAndValueNamesIgnoreLetterCase) {
  DeviceFixture device;
  device.SetValue(LF_TEXT("SOFTWARE\\APPS\\VELTRIX CORVANE"), LF_TEXT("INSTALLDIR"),
                  LF_TEXT("\\Corvane"));
  WChar folder[kMaxPath] = {};
  EXPECT_TRUE(LookUpFolder(setup::kCorvaneKey, folder, kMaxPath));
  EXPECT_EQ(WString(folder), LF_TEXT("\\Corvane"));
}

TEST(FolderLookUp, FailsWithoutKeyOrRoom) {
  DeviceFixture device;
  WChar folder[kMaxPath] = LF_TEXT("unchanged");
  EXPECT_FALSE(LookUpFolder(setup::kPackageKey, folder, kMaxPath));  // no key at all

  device.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), LF_TEXT("\\abc"));
  EXPECT_FALSE(LookUpFolder(setup::kPackageKey, nullptr, kMaxPath));
  EXPECT_FALSE(LookUpFolder(setup::kPackageKey, folder, 0));
  EXPECT_FALSE(LookUpFolder(setup::kPackageKey, folder, 4));  // four characters need five
  EXPECT_EQ(WString(folder), LF_TEXT("unchanged"));
  EXPECT_TRUE(LookUpFolder(setup::kPackageKey, folder, 5));
  EXPECT_EQ(WString(folder), LF_TEXT("\\abc"));
}

// The default value of `key` as the registry service reads it now.
std::string DefaultValue(const WChar* key) {
  RegistryKey handle;
  if (!handle.OpenLocalMachine(key, kMaximumAllowed)) return "<no key>";
  WChar value[kMaxPath] = {};
  return handle.ReadString(nullptr, value, kMaxPath) ? U8(value) : "<no value>";
}

// The fixture's keys live under its test root: the code under test reads them
// through HKEY_LOCAL_MACHINE, while the machine's own keys (the application
// manager's registration above all) are never written or deleted.
TEST(FolderLookUp, FixtureKeysNeverReachTheMachinesOwn) {
  const WChar* const keys[] = {kCorvaneKeyPath, kPackageKeyPath, kAppManagerKeyPath};
  std::vector<std::string> machine;
  for (const WChar* key : keys) machine.push_back(DefaultValue(key));
  {
    DeviceFixture device;
    const WString marker = LF_TEXT("fixture ") + device.RegistryRoot();
    for (const WChar* key : keys) device.SetValue(key, LF_TEXT(""), marker);
    for (const WChar* key : keys) EXPECT_EQ(DefaultValue(key), U8(marker));

    ASSERT_TRUE(SetRegistryRootForTesting(nullptr));  // a look at the machine's keys
    for (std::size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(DefaultValue(keys[i]), machine[i]);
    ASSERT_TRUE(SetRegistryRootForTesting(device.RegistryRoot().c_str()));

    device.RemoveKey(kAppManagerKeyPath);
    EXPECT_EQ(DefaultValue(kAppManagerKeyPath), "<no key>");
  }
  for (std::size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(DefaultValue(keys[i]), machine[i]);
}

TEST(JoinPath, FitsOnlyWithItsTerminator) {
  WChar path[kMaxPath];
  const WString base = Repeat('f', 250);
  EXPECT_TRUE(setup::JoinPath(path, base.c_str(), LF_TEXT("\\CVUI"), LF_TEXT("\\ab")));  // 258
  EXPECT_EQ(WString(path), base + LF_TEXT("\\CVUI\\ab"));
  EXPECT_TRUE(setup::JoinPath(path, base.c_str(), LF_TEXT("\\CVUI"), LF_TEXT("\\abc")));  // 259
  EXPECT_FALSE(setup::JoinPath(path, base.c_str(), LF_TEXT("\\CVUI"), LF_TEXT("\\abcd")));  // 260
  EXPECT_FALSE(setup::JoinPath(path, Repeat('g', 300).c_str(), LF_TEXT("")));
  EXPECT_TRUE(setup::JoinPath(path, nullptr, LF_TEXT("\\x")));
  EXPECT_EQ(WString(path), LF_TEXT("\\x"));
}

}  // namespace
}  // namespace lanfeed::testing
