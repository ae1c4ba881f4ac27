// The launcher's registry read and its parameter text.
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "installer/launcher.h"

namespace lanfeed::testing {
namespace {

using installer::BuildParameterText;
using installer::ReadAppManagerPath;

TEST(ParameterText, QuotesTheProgramFolderAndAppendsTheIniPath) {
  struct Case {
    const char* program;
    const char* expected;  // null: nothing is built
  };
  const Case cases[] = {
      {"C:\\Kits\\Feed\\LanFeedInstaller.exe", "\"C:\\Kits\\Feed\\INI\\LanFeedPlugin.ini\""},
      {"C:\\Program Files (x86)\\Lan Feed\\LanFeedInstaller.exe",
       "\"C:\\Program Files (x86)\\Lan Feed\\INI\\LanFeedPlugin.ini\""},
      {"C:\\LanFeedInstaller.exe", "\"C:\\INI\\LanFeedPlugin.ini\""},
      {"\\LanFeedInstaller", "\"\\INI\\LanFeedPlugin.ini\""},
      {"\\\\server\\share\\kit\\setup.exe", "\"\\\\server\\share\\kit\\INI\\LanFeedPlugin.ini\""},
      {"LanFeedInstaller.exe", nullptr},
      {"C:/Kits/Feed/LanFeedInstaller.exe", nullptr},  // only a backslash separates
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    WChar text[kMaxPath];
    for (WChar& ch : text) ch = LF_TEXT('#');
    EXPECT_EQ(BuildParameterText(W(c.program).c_str(), text, kMaxPath), c.expected != nullptr);
    EXPECT_EQ(U8(text), c.expected != nullptr ? c.expected : "");
    // Zero-filled behind the text.
    for (std::size_t i = WStrLen(text); i < kMaxPath; ++i) ASSERT_EQ(text[i], 0) << i;
  }
}

TEST(ParameterText, FolderOf235CharactersIsTheLongestThatFits) {
  WChar text[kMaxPath];
  WString folder(235, LF_TEXT('f'));
  EXPECT_TRUE(BuildParameterText((folder + LF_TEXT("\\x.exe")).c_str(), text, kMaxPath));
  EXPECT_EQ(WStrLen(text), 259u);
  EXPECT_EQ(text[258], LF_TEXT('"'));

  folder += LF_TEXT('f');
  EXPECT_FALSE(BuildParameterText((folder + LF_TEXT("\\x.exe")).c_str(), text, kMaxPath));
  EXPECT_EQ(text[0], 0);
  EXPECT_FALSE(BuildParameterText(LF_TEXT("C:\\a.exe"), text, 10));
  EXPECT_FALSE(BuildParameterText(LF_TEXT("C:\\a.exe"), nullptr, kMaxPath));
}

TEST(AppManagerPath, ReadsTheDefaultValueWhole) {
  DeviceFixture device;
  WChar path[kMaxPath] = LF_TEXT("untouched");
  EXPECT_FALSE(ReadAppManagerPath(path, kMaxPath));  // no key

  device.SetValue(kAppManagerKeyPath, LF_TEXT("Path"), LF_TEXT("C:\\ActiveSync"));
  EXPECT_FALSE(ReadAppManagerPath(path, kMaxPath));  // key without default value
  EXPECT_EQ(U8(path), "untouched");

  device.SetValue(kAppManagerKeyPath, LF_TEXT(""), LF_TEXT("C:\\ActiveSync\\CEAPPMGR.EXE"));
  EXPECT_TRUE(ReadAppManagerPath(path, kMaxPath));
  EXPECT_EQ(U8(path), "C:\\ActiveSync\\CEAPPMGR.EXE");

  device.SetValue(kAppManagerKeyPath, LF_TEXT(""), WString(259, LF_TEXT('m')));
  EXPECT_TRUE(ReadAppManagerPath(path, kMaxPath));
  device.SetValue(kAppManagerKeyPath, LF_TEXT(""), WString(260, LF_TEXT('n')));
  EXPECT_FALSE(ReadAppManagerPath(path, kMaxPath));
  EXPECT_EQ(WString(path), WString(259, LF_TEXT('m')));
}

}  // namespace
}  // namespace lanfeed::testing
