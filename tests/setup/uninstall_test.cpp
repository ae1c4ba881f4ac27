// Uninstall_Init and Uninstall_Exit over a temporary device folder.
#include <string>

#include "setup_test_support.h"

namespace lanfeed::testing {
namespace {

using setup::State;

class UninstallTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    InstallCorvane();
    PlaceInstalledFiles();
    device_.WriteFile(std::string(kCorvane) + "/Plugins/Other.dll", "another plug-in");
    device_.WriteFile(std::string(kCorvane) + "/CVUI/other.xml", "another UI");
    device_.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), Package());
  }

  bool InstalledFilesPresent(bool expected) const {
    const std::string corvane(kCorvane);
    return device_.Exists(corvane + "/Plugins/LanFeedPlugin.dll") == expected &&
           device_.Exists(corvane + "/CVUI/lanfeed.js") == expected &&
           device_.Exists(corvane + "/CVUI/cvui_lanfeed.xml") == expected;
  }
};

TEST_F(UninstallTest, CancelReturnsAtOnceAndDeletesNothing) {
  answer_ = kAnswerCancel;
  EXPECT_EQ(Uninstall_Init(window_, Package().c_str()), setup::kUninstallInitCancel);
  EXPECT_TRUE(InstalledFilesPresent(true));
  EXPECT_EQ(DelayMs(), 0u);
  EXPECT_EQ(WString(State().package_folder), WString());  // nothing looked up
  EXPECT_EQ(WString(State().corvane_folder), WString());
}

TEST_F(UninstallTest, QuestionTextIsExact) {
  answer_ = kAnswerCancel;
  Uninstall_Init(window_, Package().c_str());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(U8(boxes_[0].text),
            "Corvane should be stopped before uninstalling this plug-in from the device.\n\n"
            "If Corvane is running, tap Cancel then use the Corvane Control Panel to stop Corvane");
  EXPECT_EQ(U8(boxes_[0].caption), "Important information");
  EXPECT_EQ(boxes_[0].style, kMessageBoxOkCancel);
  EXPECT_EQ(boxes_[0].owner, window_);
}

TEST_F(UninstallTest, QuestionIsAskedEvenWithTheNoUiSwitch) {
  SetCommandLineForTesting(LF_TEXT("wceload.exe /NOUI"));
  Uninstall_Init(window_, Package().c_str());
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(UninstallTest, OkOrNoWindowDeletesTheThreeFilesAndKeepsTheFolders) {
  struct Case {
    const char* name;
    bool with_window;
    int answer;
  };
  const Case cases[] = {{"OK pressed", true, kAnswerOk},
                        {"no window", false, kAnswerCancel},  // the answer is never asked
                        {"box not shown", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setup::ResetStateForTesting();
    PlaceInstalledFiles();
    boxes_.clear();
    answer_ = c.answer;
    uint64_t delay_before = DelayMs();

    EXPECT_EQ(Uninstall_Init(c.with_window ? window_ : nullptr, Package().c_str()),
              setup::kUninstallInitContinue);
    EXPECT_EQ(boxes_.size(), c.with_window ? 1u : 0u);
    EXPECT_TRUE(InstalledFilesPresent(false));
    EXPECT_EQ(device_.ReadFile(std::string(kCorvane) + "/Plugins/Other.dll"), "another plug-in");
    EXPECT_TRUE(device_.Exists(std::string(kCorvane) + "/CVUI/other.xml"));
    EXPECT_EQ(DelayMs() - delay_before, 3000u);
    EXPECT_EQ(WString(State().package_folder), Package());
  }
}

TEST_F(UninstallTest, CorvaneMissingDeletesNothingAndDoesNotWait) {
  device_.RemoveKey(kCorvaneKeyPath);
  EXPECT_EQ(Uninstall_Init(nullptr, Package().c_str()), setup::kUninstallInitContinue);
  EXPECT_TRUE(InstalledFilesPresent(true));
  EXPECT_EQ(DelayMs(), 0u);
  EXPECT_EQ(WString(State().package_folder), Package());
}

TEST_F(UninstallTest, MissingPackageKeyKeepsTheFolderAlreadyKnown) {
  device_.RemoveKey(kPackageKeyPath);
  Install_Init(nullptr, 1, 0, Package().c_str());
  Uninstall_Init(nullptr, nullptr);
  EXPECT_EQ(WString(State().package_folder), Package());
}

TEST_F(UninstallTest, UninstallExitClearsThePackageFolder) {
  const std::string package(kPackage);
  device_.WriteFile(package + "/LanFeedSetup.dll", "setup library");
  device_.MakeFolder(package + "/ui");  // the device's file system ignores case: "\UI" is "ui"

  Uninstall_Init(nullptr, Package().c_str());
  EXPECT_EQ(Uninstall_Exit(nullptr), setup::kUninstallExitDone);
  EXPECT_FALSE(device_.Exists(package));
  EXPECT_TRUE(device_.Exists(kCorvane));
}

TEST_F(UninstallTest, UninstallExitLeavesAFolderThatStillHoldsFiles) {
  const std::string package(kPackage);
  device_.WriteFile(package + "/LanFeedSetup.dll", "setup library");
  device_.WriteFile(package + "/ui/left.txt", "left");
  device_.WriteFile(package + "/readme.txt", "user file");

  Uninstall_Init(nullptr, Package().c_str());
  Uninstall_Exit(nullptr);
  EXPECT_FALSE(device_.Exists(package + "/LanFeedSetup.dll"));
  EXPECT_TRUE(device_.Exists(package + "/ui/left.txt"));
  EXPECT_TRUE(device_.Exists(package + "/readme.txt"));
}

TEST_F(UninstallTest, UninstallExitWithoutAKnownFolderDoesNothing) {
  const std::string package(kPackage);
  device_.WriteFile(package + "/LanFeedSetup.dll", "setup library");
  EXPECT_EQ(Uninstall_Exit(nullptr), setup::kUninstallExitDone);  // freshly loaded
  EXPECT_TRUE(device_.Exists(package + "/LanFeedSetup.dll"));
}

}  // namespace
}  // namespace lanfeed::testing
