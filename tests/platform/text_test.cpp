#include <gtest/gtest.h>

#include "platform/text.h"

namespace lanfeed {
namespace {

TEST(Text, Utf8RoundTripsThroughUtf16) {
  for (std::string s : {std::string(""), std::string("plain"), std::string("Gr\xc3\xbc\xc3\x9f"),
                        std::string("\xe2\x82\xac 5"), std::string("\xf0\x9f\x98\x80")}) {
    EXPECT_EQ(ToUtf8(FromUtf8(s)), s);
  }
  EXPECT_EQ(FromUtf8("\xf0\x9f\x98\x80").size(), 2u);  // one surrogate pair
}

TEST(Text, InvalidUtf8BecomesReplacementCharacter) {
  WString w = FromUtf8("a\xff" "b\xc3");
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[1], static_cast<WChar>(0xFFFD));
  EXPECT_EQ(w[3], static_cast<WChar>(0xFFFD));
}

TEST(Text, BoundedCopyNeverOverruns) {
  WChar buf[5];
  EXPECT_TRUE(WStrCopy(buf, 5, LF_TEXT("abcd")));
  EXPECT_EQ(ToUtf8(buf), "abcd");
  EXPECT_FALSE(WStrCopy(buf, 4, LF_TEXT("abcd")));
  EXPECT_EQ(ToUtf8(buf), "abc");
  EXPECT_TRUE(WStrCopy(buf, 5, nullptr));
  EXPECT_EQ(buf[0], 0);
  EXPECT_FALSE(WStrCopy(buf, 0, LF_TEXT("x")));
  EXPECT_EQ(WStrLen(nullptr), 0u);
}

TEST(Text, UpperCasesOnlyAsciiLetters) {
  WChar s[] = LF_TEXT("setup.exe /noui \u00e9");
  WToUpperAscii(s);
  EXPECT_EQ(ToUtf8(s), "SETUP.EXE /NOUI \xc3\xa9");
}

}  // namespace
}  // namespace lanfeed
