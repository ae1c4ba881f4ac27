// The file and folder service behaves like Win32 on every backend: the same
// expectations run against the real calls on Windows and the stand-in on Linux.
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "platform/files.h"

namespace lanfeed::testing {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  WString P(const char* relative) const { return device_.DevicePath(relative); }
  DeviceFixture device_;
};

TEST_F(FilesTest, CopyOverwritesAndFailsWithoutSourceOrTargetFolder) {
  device_.WriteFile("a/src.bin", "new");
  device_.WriteFile("b/dst.bin", "old and longer");
  EXPECT_TRUE(CopyFileOverwrite(P("a/src.bin").c_str(), P("b/dst.bin").c_str()));
  EXPECT_EQ(device_.ReadFile("b/dst.bin"), "new");
  EXPECT_EQ(device_.ReadFile("a/src.bin"), "new");

  EXPECT_FALSE(CopyFileOverwrite(P("a/missing.bin").c_str(), P("b/x.bin").c_str()));
  EXPECT_FALSE(CopyFileOverwrite(P("a/src.bin").c_str(), P("nowhere/x.bin").c_str()));
  EXPECT_FALSE(CopyFileOverwrite(P("a").c_str(), P("b/folder-copy").c_str()));
  device_.MakeFolder("b/is-a-folder");
  EXPECT_FALSE(CopyFileOverwrite(P("a/src.bin").c_str(), P("b/is-a-folder").c_str()));
  EXPECT_FALSE(device_.Exists("b/x.bin"));
}

TEST_F(FilesTest, DeleteTakesFilesOnly) {
  device_.WriteFile("a/file.txt", "x");
  device_.MakeFolder("a/folder");
  EXPECT_FALSE(DeleteFileAt(P("a/folder").c_str()));
  EXPECT_TRUE(device_.Exists("a/folder"));
  EXPECT_TRUE(DeleteFileAt(P("a/file.txt").c_str()));
  EXPECT_FALSE(device_.Exists("a/file.txt"));
  EXPECT_FALSE(DeleteFileAt(P("a/file.txt").c_str()));
}

TEST_F(FilesTest, FoldersAreCreatedOnceAndRemovedOnlyWhenEmpty) {
  EXPECT_TRUE(CreateFolder(P("new").c_str()));
  EXPECT_FALSE(CreateFolder(P("new").c_str()));
  EXPECT_FALSE(CreateFolder(P("missing/child").c_str()));
  device_.WriteFile("new/file.txt", "x");
  EXPECT_FALSE(RemoveFolder(P("new").c_str()));
  EXPECT_TRUE(device_.Exists("new/file.txt"));
  EXPECT_TRUE(DeleteFileAt(P("new/file.txt").c_str()));
  EXPECT_TRUE(RemoveFolder(P("new").c_str()));
  EXPECT_FALSE(device_.Exists("new"));
  EXPECT_FALSE(RemoveFolder(P("new").c_str()));
}

TEST_F(FilesTest, FindFirstTellsFoldersFromFiles) {
  device_.WriteFile("a/file.txt", "x");
  uint32_t attributes = 0;
  ASSERT_TRUE(FindFirstAttributes(P("a").c_str(), &attributes));
  EXPECT_NE(attributes & kFileAttributeDirectory, 0u);
  ASSERT_TRUE(FindFirstAttributes(P("a/file.txt").c_str(), &attributes));
  EXPECT_EQ(attributes & kFileAttributeDirectory, 0u);
  EXPECT_FALSE(FindFirstAttributes(P("a/missing").c_str(), &attributes));
}

TEST_F(FilesTest, ReadOnlyAttributeComesAndGoes) {
  device_.WriteFile("a/file.txt", "x");
  uint32_t attributes = 0;
  ASSERT_TRUE(SetAttributes(P("a/file.txt").c_str(), kFileAttributeReadOnly));
  ASSERT_TRUE(FindFirstAttributes(P("a/file.txt").c_str(), &attributes));
  EXPECT_NE(attributes & kFileAttributeReadOnly, 0u);
  ASSERT_TRUE(SetAttributes(P("a/file.txt").c_str(), kFileAttributeNormal));
  ASSERT_TRUE(FindFirstAttributes(P("a/file.txt").c_str(), &attributes));
  EXPECT_EQ(attributes & kFileAttributeReadOnly, 0u);
  EXPECT_FALSE(SetAttributes(P("a/missing").c_str(), kFileAttributeNormal));
}

TEST_F(FilesTest, NamesIgnoreLetterCaseAsOnTheDevice) {
  device_.WriteFile("Pkg/ui/lanfeed.js", "script");
  device_.MakeFolder("Corvane/CVUI");
  EXPECT_TRUE(CopyFileOverwrite(P("PKG/UI/LanFeed.JS").c_str(), P("corvane/cvui/lanfeed.js").c_str()));
  EXPECT_EQ(device_.ReadFile("Corvane/CVUI/lanfeed.js"), "script");
  EXPECT_TRUE(DeleteFileAt(P("pkg/UI/LANFEED.js").c_str()));
  EXPECT_TRUE(RemoveFolder(P("Pkg/UI").c_str()));
  EXPECT_FALSE(device_.Exists("Pkg/ui"));
  EXPECT_TRUE(CreateFolder(P("CORVANE/Plugins").c_str()));
  EXPECT_TRUE(device_.Exists("Corvane/Plugins"));
}

TEST_F(FilesTest, RootedPathsStayBelowTheTestRoot) {
  // As a path built from an empty folder name would read: below the test
  // root, never at the top of the machine's drive.
  const WString stray = LF_TEXT("\\") + device_.RegistryRoot();
  EXPECT_TRUE(CreateFolder(stray.c_str()));
  EXPECT_TRUE(device_.Exists(U8(device_.RegistryRoot())));
  EXPECT_TRUE(RemoveFolder(stray.c_str()));
}

}  // namespace
}  // namespace lanfeed::testing
