// The file-backed registry of the POSIX backend: the file format that a person
// writes by hand to play a device on Linux.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device_fixture.h"
#include "platform/registry.h"

namespace lanfeed::testing {
namespace {

class RegistryFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << text;
    setenv("LANFEED_REGISTRY_FILE", file_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("LANFEED_REGISTRY_FILE");
    std::filesystem::remove(file_);
  }
  // The value, or "<fails>".
  std::string Read(const char* key, const char* name, std::size_t capacity = kMaxPath) {
    RegistryKey handle;
    if (!handle.OpenLocalMachine(W(key).c_str(), kKeyAllAccess)) return "<no key>";
    WChar value[kMaxPath + 40] = LF_TEXT("untouched");
    WString wide_name = W(name == nullptr ? "" : name);
    if (!handle.ReadString(name == nullptr ? nullptr : wide_name.c_str(), value, capacity)) {
      EXPECT_EQ(U8(value), "untouched");
      return "<fails>";
    }
    return U8(value);
  }

  std::filesystem::path file_ =
      std::filesystem::temp_directory_path() / ("lanfeed-registry-" + std::to_string(getpid()) + ".reg");
};

TEST_F(RegistryFileTest, ReadsRegFileSyntax) {
  Write(
      "Windows Registry Editor Version 5.00\r\n"
      "; a comment\n"
      "# another\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Apps\\Veltrix Corvane]\r\n"
      "\"InstallDir\"=\"\\\\Program Files\\\\Corvane\"\r\n"
      "  \"Quoted\" = \"say \\\"hi\\\"\"\n"
      "\"Plain\"=\"\\Storage Card\\Corvane\"\n"
      "\"Number\"=dword:00000001\n"
      "@=\"default text\"\n"
      "\"Unicode\"=\"Gr\xC3\xBC\xC3\x9F" "e\"\n"
      "[HKLM\\Software\\Second\\]\n"
      "\"A\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\Software\\Apps\\Veltrix Corvane]\n"
      "\"InstallDir\"=\"user hive\"\n");
  const char* key = "Software\\Apps\\Veltrix Corvane";
  EXPECT_EQ(Read(key, "InstallDir"), "\\Program Files\\Corvane");
  EXPECT_EQ(Read(key, "installdir"), "\\Program Files\\Corvane");
  EXPECT_EQ(Read(key, "Quoted"), "say \"hi\"");
  EXPECT_EQ(Read(key, "Plain"), "\\Storage Card\\Corvane");  // lone backslashes stay
  EXPECT_EQ(Read(key, "Number"), "<fails>");                 // not a string value
  EXPECT_EQ(Read(key, nullptr), "default text");
  EXPECT_EQ(Read(key, ""), "default text");
  EXPECT_EQ(Read(key, "Unicode"), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(Read(key, "Missing"), "<fails>");
  EXPECT_EQ(Read("SOFTWARE\\apps\\VELTRIX CORVANE", "InstallDir"), "\\Program Files\\Corvane");
  EXPECT_EQ(Read("Software\\Second", "A"), "1");
  EXPECT_EQ(Read("Software\\Apps", "InstallDir"), "<no key>");  // a parent is not the key
}

TEST_F(RegistryFileTest, LaterSectionsAddAndLaterValuesWin) {
  Write(
      "[HKLM\\K]\n\"A\"=\"first\"\n\"B\"=\"b\"\n"
      "[HKLM\\Other]\n\"A\"=\"other\"\n"
      "[HKLM\\k]\n\"a\"=\"second\"\n");
  EXPECT_EQ(Read("K", "A"), "second");
  EXPECT_EQ(Read("K", "B"), "b");
  EXPECT_EQ(Read("Other", "A"), "other");
}

TEST_F(RegistryFileTest, NoFileMeansAnEmptyRegistry) {
  unsetenv("LANFEED_REGISTRY_FILE");
  EXPECT_EQ(Read("K", "V"), "<no key>");
  setenv("LANFEED_REGISTRY_FILE", (file_.string() + ".missing").c_str(), 1);
  EXPECT_EQ(Read("K", "V"), "<no key>");
}

TEST_F(RegistryFileTest, MalformedLinesAreSkipped) {
  Write(
      "[HKLM\\K]\n"
      "\"Open\"=\"no end\n"
      "\"NoEquals\" \"x\"\n"
      "garbage\n"
      "[HKLM\\Broken\n"
      "\"Good\"=\"yes\"\n");
  EXPECT_EQ(Read("K", "Open"), "<fails>");
  EXPECT_EQ(Read("K", "NoEquals"), "<fails>");
  EXPECT_EQ(Read("K", "Good"), "<fails>");  // belongs to no valid section
  EXPECT_EQ(Read("Broken", "Good"), "<no key>");
}

}  // namespace
}  // namespace lanfeed::testing
