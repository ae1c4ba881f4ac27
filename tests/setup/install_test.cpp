// Install_Init and Install_Exit over a temporary device folder.
#include <string>

#include "platform/files.h"
#include "setup/messages.h"
#include "setup_test_support.h"

namespace lanfeed::testing {
namespace {

using setup::State;

TEST_F(SetupTest, CorvaneMissingCancelsAndTheAnswerStaysForTheLoadedLibrary) {
  EXPECT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitCancel);

  // Corvane turns up later; the library keeps its answer while it is loaded.
  InstallCorvane();
  EXPECT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitCancel);
  EXPECT_EQ(Install_Init(nullptr, 0, 0, Package().c_str()), setup::kInstallInitCancel);
  EXPECT_EQ(WString(State().corvane_folder), device_.DevicePath(kCorvane));
  EXPECT_EQ(WString(State().package_folder), Package());
}

TEST_F(SetupTest, InstallNoticeFollowsTheNoUiSwitch) {
  struct Case {
    const char* command_line;
    bool notice;
  };
  const Case cases[] = {
      {"\\Windows\\wceload.exe \\Temp\\LanFeed.CAB", true},
      {"wceload.exe /NOUI \\Temp\\LanFeed.CAB", false},
      {"wceload.exe /noui \\Temp\\LanFeed.CAB", false},
      {"wceload.exe /nOuI", false},
      {"wceload.exe /NOUIPLEASE", false},      // inside a longer word
      {"wceload.exe \\Temp/NOUI.CAB", false},  // even inside a path
      {"wceload.exe /NO UI", true},
      {"wceload.exe -NOUI", true},
      {"wceload.exe NOUI", true},
      {"", true},
  };
  InstallCorvane();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line);
    boxes_.clear();
    SetCommandLineForTesting(W(c.command_line).c_str());
    EXPECT_EQ(Install_Init(window_, 1, 0, Package().c_str()), setup::kInstallInitContinue);
    ASSERT_EQ(boxes_.size(), c.notice ? 1u : 0u);
    if (c.notice) {
      EXPECT_EQ(boxes_[0].owner, window_);
      EXPECT_EQ(boxes_[0].style, kMessageBoxOk);
    }
  }
}

TEST_F(SetupTest, InstallNoticeTextIsExact) {
  // Built independently of the product's constant: every tab, blank and line
  // feed counts.
  const std::string expected =
      "Corvane must be present on the device for this installation to succeed." +
      std::string(10, '\t') + "   \n" +
      "After successful installation, Corvane must be restarted to register the addition of "
      "this new plug-in. " +
      std::string(10, '\t') + "   " +
      "Please Stop then Start Corvane via the Corvane Control Panel.";
  // The notice comes before the check, so it shows even without Corvane.
  EXPECT_EQ(Install_Init(window_, 1, 0, Package().c_str()), setup::kInstallInitCancel);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(U8(boxes_[0].text), expected);
  EXPECT_EQ(U8(boxes_[0].caption), "Important information");
}

TEST_F(SetupTest, NoParentWindowShowsNothingButStillChecksAndRecords) {
  SetCommandLineForTesting(LF_TEXT("wceload.exe"));
  EXPECT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitCancel);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(WString(State().package_folder), Package());
}

TEST_F(SetupTest, LaterCallSkipsNoticeAndChecksButTakesTheFolder) {
  InstallCorvane();
  SetPlatformTypeForTesting(LF_TEXT("PocketPC WinCE"));
  device_.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), device_.DevicePath("Old"));
  device_.WriteFile("Old/LanFeedSetup.dll", "old");

  EXPECT_EQ(Install_Init(window_, 0, 1, Package().c_str()), setup::kInstallInitContinue);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(WString(State().corvane_folder), WString());  // not looked up
  EXPECT_TRUE(device_.Exists("Old/LanFeedSetup.dll"));    // no clearing
  EXPECT_EQ(WString(State().package_folder), Package());
}

TEST_F(SetupTest, LeftoverPackageFolderIsClearedOnlyOnWindowsCe) {
  struct Case {
    const WChar* platform_type;  // null: the query fails
    bool cleared;
  };
  const Case cases[] = {
      {LF_TEXT("PocketPC WinCE"), true},
      {LF_TEXT("SmartPhone WinCE"), true},
      {nullptr, false},
      {LF_TEXT("WinCE"), false},              // no blank
      {LF_TEXT("PocketPC wince"), false},     // letter case counts
      {LF_TEXT("PocketPC WinCE 5"), false},   // the whole rest must match
      {LF_TEXT("Pocket PC WinCE"), false},    // cut at the first blank
      {LF_TEXT("PocketPC "), false},
  };
  InstallCorvane();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platform_type == nullptr ? std::string("(fails)") : U8(c.platform_type));
    setup::ResetStateForTesting();
    device_.SetValue(kPackageKeyPath, LF_TEXT("InstlDir"), device_.DevicePath("Old"));
    device_.WriteFile("Old/LanFeedSetup.dll", "old");
    device_.MakeFolder("Old/ui");
    SetPlatformTypeForTesting(c.platform_type);

    EXPECT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitContinue);
    EXPECT_EQ(device_.Exists("Old"), !c.cleared);
    EXPECT_EQ(WString(State().package_folder), Package());  // the argument wins
  }
}

TEST_F(SetupTest, ClearingKeepsAFolderThatStillHoldsFiles) {
  InstallCorvane();
  SetPlatformTypeForTesting(LF_TEXT("PocketPC WinCE"));
  device_.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), device_.DevicePath("Old"));
  device_.WriteFile("Old/LanFeedSetup.dll", "old");
  device_.WriteFile("Old/ui/lanfeed.js", "left behind");
  device_.WriteFile("Old/notes.txt", "user file");

  Install_Init(nullptr, 1, 0, Package().c_str());
  EXPECT_FALSE(device_.Exists("Old/LanFeedSetup.dll"));
  EXPECT_TRUE(device_.Exists("Old/ui/lanfeed.js"));
  EXPECT_TRUE(device_.Exists("Old/notes.txt"));
}

TEST_F(SetupTest, OversizedInstallFolderIsNotRecorded) {
  InstallCorvane();
  StagePackage();
  Install_Init(nullptr, 1, 0, Package().c_str());
  WString too_long = Package() + LF_TEXT("\\") + WString(kMaxPath, LF_TEXT('x'));
  Install_Init(nullptr, 0, 0, too_long.c_str());
  EXPECT_EQ(WString(State().package_folder), WString());

  // With no package folder there is nothing to move, and the staged files of
  // the earlier call stay where they are.
  Install_Exit(nullptr, too_long.c_str(), 0, 0, 0, 0, 0);
  EXPECT_TRUE(device_.Exists(std::string(kPackage) + "/LanFeedPlugin.dll"));
  EXPECT_FALSE(device_.Exists(std::string(kCorvane) + "/Plugins"));
}

TEST_F(SetupTest, InstallExitMovesTheFilesAndCreatesMissingFolders) {
  InstallCorvane();
  StagePackage();
  ASSERT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitContinue);
  uint64_t delay_before_exit = DelayMs();
  EXPECT_EQ(Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0), setup::kInstallExitDone);
  EXPECT_EQ(DelayMs() - delay_before_exit, 3000u);

  const std::string corvane(kCorvane);
  const std::string package(kPackage);
  EXPECT_EQ(device_.ReadFile(corvane + "/Plugins/LanFeedPlugin.dll"), "plugin library");
  EXPECT_EQ(device_.ReadFile(corvane + "/CVUI/lanfeed.js"), "script");
  EXPECT_EQ(device_.ReadFile(corvane + "/CVUI/cvui_lanfeed.xml"), "<ui/>");
  EXPECT_FALSE(device_.Exists(package + "/LanFeedPlugin.dll"));
  EXPECT_FALSE(device_.Exists(package + "/ui/lanfeed.js"));
  EXPECT_FALSE(device_.Exists(package + "/ui/cvui_lanfeed.xml"));
  EXPECT_TRUE(device_.Exists(package + "/LanFeedSetup.dll"));  // left for Uninstall_Exit
}

TEST_F(SetupTest, InstallExitOverwritesExistingTargets) {
  InstallCorvane();
  StagePackage();
  const std::string corvane(kCorvane);
  device_.WriteFile(corvane + "/Plugins/LanFeedPlugin.dll", "an older plug-in, longer than the new");
  device_.WriteFile(corvane + "/CVUI/lanfeed.js", "old script");
  device_.WriteFile(corvane + "/Plugins/Other.dll", "another plug-in");

  Install_Init(nullptr, 1, 0, Package().c_str());
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  EXPECT_EQ(device_.ReadFile(corvane + "/Plugins/LanFeedPlugin.dll"), "plugin library");
  EXPECT_EQ(device_.ReadFile(corvane + "/CVUI/lanfeed.js"), "script");
  EXPECT_EQ(device_.ReadFile(corvane + "/Plugins/Other.dll"), "another plug-in");
  EXPECT_FALSE(device_.Exists(std::string(kPackage) + "/LanFeedPlugin.dll"));
}

TEST_F(SetupTest, FailedCopyKeepsItsSourceAndTheOthersStillMove) {
  InstallCorvane();
  StagePackage();
  const std::string corvane(kCorvane);
  const std::string package(kPackage);
  // A folder where the plug-in file should go: that copy cannot succeed.
  device_.MakeFolder(corvane + "/Plugins/LanFeedPlugin.dll");
  // And one source is missing altogether.
  std::filesystem::remove(device_.HostPath(package + "/ui/lanfeed.js"));

  Install_Init(nullptr, 1, 0, Package().c_str());
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  EXPECT_EQ(device_.ReadFile(package + "/LanFeedPlugin.dll"), "plugin library");
  EXPECT_FALSE(device_.Exists(corvane + "/CVUI/lanfeed.js"));
  EXPECT_EQ(device_.ReadFile(corvane + "/CVUI/cvui_lanfeed.xml"), "<ui/>");
  EXPECT_FALSE(device_.Exists(package + "/ui/cvui_lanfeed.xml"));
}

TEST_F(SetupTest, InstallExitKeepsTheFolderFoundAtInitWhenTheKeyIsGone) {
  InstallCorvane();
  StagePackage();
  Install_Init(nullptr, 1, 0, Package().c_str());
  device_.RemoveKey(kCorvaneKeyPath);
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  EXPECT_EQ(device_.ReadFile(std::string(kCorvane) + "/Plugins/LanFeedPlugin.dll"),
            "plugin library");
}

TEST_F(SetupTest, InstallExitFollowsTheFolderNamedAtExit) {
  InstallCorvane();
  StagePackage();
  Install_Init(nullptr, 1, 0, Package().c_str());
  InstallCorvane("Corvane2");  // moved between the two calls
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  EXPECT_TRUE(device_.Exists("Corvane2/Plugins/LanFeedPlugin.dll"));
  EXPECT_FALSE(device_.Exists(std::string(kCorvane) + "/Plugins"));
}

TEST_F(SetupTest, InstallExitMakesCorvanesFolderNormal) {
  InstallCorvane();
  StagePackage();
  WString corvane = device_.DevicePath(kCorvane);
  ASSERT_TRUE(SetAttributes(corvane.c_str(), kFileAttributeReadOnly));
  uint32_t attributes = 0;
  ASSERT_TRUE(FindFirstAttributes(corvane.c_str(), &attributes));
  if ((attributes & kFileAttributeReadOnly) == 0) {
    GTEST_SKIP() << "this file system keeps no read-only bit on folders (Wine)";
  }

  Install_Init(nullptr, 1, 0, Package().c_str());
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  ASSERT_TRUE(FindFirstAttributes(corvane.c_str(), &attributes));
  EXPECT_EQ(attributes & kFileAttributeReadOnly, 0u);
  EXPECT_TRUE(device_.Exists(std::string(kCorvane) + "/Plugins/LanFeedPlugin.dll"));
}

}  // namespace
}  // namespace lanfeed::testing
