// The built LanFeedSetup library, loaded the way the CAB installer loads it:
// by file, with its four exports looked up by their plain names. The settle
// waits are real here (the library keeps its own, untouched test seams).
#include <gtest/gtest.h>

#include <string>

#include "device_fixture.h"
#include "platform/callconv.h"
#include "platform/library.h"
#include "platform/window.h"

namespace lanfeed::testing {
namespace {

using InstallInitFn = int32_t(LF_STDCALL*)(WindowHandle, int32_t, int32_t, const WChar*);
using InstallExitFn = int32_t(LF_STDCALL*)(WindowHandle, const WChar*, uint16_t, uint16_t,
                                           uint16_t, uint16_t, uint16_t);
using UninstallInitFn = int32_t(LF_STDCALL*)(WindowHandle, const WChar*);
using UninstallExitFn = int32_t(LF_STDCALL*)(WindowHandle);

struct SetupExports {
  InstallInitFn install_init = nullptr;
  InstallExitFn install_exit = nullptr;
  UninstallInitFn uninstall_init = nullptr;
  UninstallExitFn uninstall_exit = nullptr;
};

// The library is copied beside the test program by the build.
bool LoadSetupLibrary(SharedLibrary& library, SetupExports* exports, std::string* error) {
  std::filesystem::path path = ProgramFolder() / LANFEED_SETUP_LIBRARY_NAME;
  if (!library.Load(path.string(), error)) return false;
  exports->install_init = reinterpret_cast<InstallInitFn>(library.Find("Install_Init"));
  exports->install_exit = reinterpret_cast<InstallExitFn>(library.Find("Install_Exit"));
  exports->uninstall_init = reinterpret_cast<UninstallInitFn>(library.Find("Uninstall_Init"));
  exports->uninstall_exit = reinterpret_cast<UninstallExitFn>(library.Find("Uninstall_Exit"));
  return true;
}

TEST(SetupLibrary, InstallAndUninstallRoundTripThroughTheExports) {
  DeviceFixture device;
  SharedLibrary library;
  SetupExports setup;
  std::string error;
  ASSERT_TRUE(LoadSetupLibrary(library, &setup, &error)) << error;
  ASSERT_NE(setup.install_init, nullptr);
  ASSERT_NE(setup.install_exit, nullptr);
  ASSERT_NE(setup.uninstall_init, nullptr);
  ASSERT_NE(setup.uninstall_exit, nullptr);

  device.MakeFolder("Program Files/Corvane");
  device.SetValue(kCorvaneKeyPath, LF_TEXT("InstallDir"), device.ExternalPath("Program Files/Corvane"));
  const WString package = device.ExternalPath("Program Files/LanFeed");
  device.WriteFile("Program Files/LanFeed/LanFeedPlugin.dll", "plugin");
  device.WriteFile("Program Files/LanFeed/ui/lanfeed.js", "script");
  device.WriteFile("Program Files/LanFeed/ui/cvui_lanfeed.xml", "<ui/>");
  device.WriteFile("Program Files/LanFeed/LanFeedSetup.dll", "setup copy");

  // Installation.
  EXPECT_EQ(setup.install_init(nullptr, 1, 0, package.c_str()), 0);
  EXPECT_EQ(setup.install_exit(nullptr, package.c_str(), 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(device.ReadFile("Program Files/Corvane/Plugins/LanFeedPlugin.dll"), "plugin");
  EXPECT_EQ(device.ReadFile("Program Files/Corvane/CVUI/lanfeed.js"), "script");
  EXPECT_EQ(device.ReadFile("Program Files/Corvane/CVUI/cvui_lanfeed.xml"), "<ui/>");
  EXPECT_FALSE(device.Exists("Program Files/LanFeed/LanFeedPlugin.dll"));
  EXPECT_FALSE(device.Exists("Program Files/LanFeed/ui/lanfeed.js"));

  // The CAB installer records the package under its own key.
  device.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), package);

  // Removal.
  EXPECT_EQ(setup.uninstall_init(nullptr, package.c_str()), 0);
  EXPECT_FALSE(device.Exists("Program Files/Corvane/Plugins/LanFeedPlugin.dll"));
  EXPECT_FALSE(device.Exists("Program Files/Corvane/CVUI/lanfeed.js"));
  EXPECT_FALSE(device.Exists("Program Files/Corvane/CVUI/cvui_lanfeed.xml"));
  EXPECT_TRUE(device.Exists("Program Files/Corvane/Plugins"));
  EXPECT_TRUE(device.Exists("Program Files/Corvane/CVUI"));
  EXPECT_EQ(setup.uninstall_exit(nullptr), 0);
  EXPECT_FALSE(device.Exists("Program Files/LanFeed"));
}

}  // namespace
}  // namespace lanfeed::testing
