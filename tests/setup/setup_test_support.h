// The in-process test bench for the setup entry points: a device folder with
// registry keys, recorded message boxes with a chosen answer, a chosen command
// line and platform type, and skipped settle waits (their durations are still
// counted).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/com.h"
#include "platform/delay.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "setup/setup_entry.h"
#include "setup/setup_state.h"

namespace lanfeed::testing {

struct ShownBox {
  WindowHandle owner;
  WString text;
  WString caption;
  uint32_t style;
};

// Members are public so that table-driven cases can reach them from lambdas.
class SetupTest : public ::testing::Test {
 public:
  // The folders the tests install into, below the device root.
  static constexpr const char* kCorvane = "Program Files/Corvane";
  static constexpr const char* kPackage = "Program Files/LanFeed";

  void SetUp() override {
    setup::ResetStateForTesting();
    SkipDelaysForTesting(true);
    FailComInitializeForTesting(false);
    SetMessageBoxHandlerForTesting(&RecordBox, this);
    SetCommandLineForTesting(LF_TEXT("\\Windows\\wceload.exe \"\\Temp\\LanFeed.CAB\""));
    SetPlatformTypeForTesting(nullptr);  // a desktop: the query fails
    delay_base_ = RequestedDelayMsForTesting();
  }

  void TearDown() override {
    SetMessageBoxHandlerForTesting(nullptr, nullptr);
    SetCommandLineForTesting(nullptr);
    ResetPlatformTypeForTesting();
    FailComInitializeForTesting(false);
    SkipDelaysForTesting(false);
    setup::ResetStateForTesting();
  }

  // Registers Corvane at `folder` (value "InstallDir") and creates the folder.
  void InstallCorvane(const char* folder = kCorvane) {
    device_.MakeFolder(folder);
    device_.SetValue(kCorvaneKeyPath, LF_TEXT("InstallDir"), device_.DevicePath(folder));
  }

  // What the CAB installer leaves in the package folder before Install_Exit.
  void StagePackage(const std::string& folder = kPackage) {
    device_.WriteFile(folder + "/LanFeedPlugin.dll", "plugin library");
    device_.WriteFile(folder + "/ui/lanfeed.js", "script");
    device_.WriteFile(folder + "/ui/cvui_lanfeed.xml", "<ui/>");
    device_.WriteFile(folder + "/LanFeedSetup.dll", "setup library");
  }

  // Corvane's folders as Install_Exit leaves them.
  void PlaceInstalledFiles(const std::string& corvane = kCorvane) {
    device_.WriteFile(corvane + "/Plugins/LanFeedPlugin.dll", "plugin library");
    device_.WriteFile(corvane + "/CVUI/lanfeed.js", "script");
    device_.WriteFile(corvane + "/CVUI/cvui_lanfeed.xml", "<ui/>");
  }

  uint64_t DelayMs() const { return RequestedDelayMsForTesting() - delay_base_; }

  WString Package() const { return device_.DevicePath(kPackage); }

  static int RecordBox(void* context, WindowHandle owner, const WChar* text, const WChar* caption,
                       uint32_t style) {
    auto* self = static_cast<SetupTest*>(context);
    self->boxes_.push_back(ShownBox{owner, text, caption, style});
    return self->answer_;
  }

  DeviceFixture device_;
  std::vector<ShownBox> boxes_;
  int answer_ = kAnswerOk;
  WindowHandle window_ = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x1234));

 private:
  uint64_t delay_base_ = 0;
};

}  // namespace lanfeed::testing
