#include <gtest/gtest.h>

#include <string>

#include "platform/format.h"

namespace lanfeed {
namespace {

std::string Utf8(const WChar* s) { return ToUtf8(s); }

TEST(Format, ConversionsFollowWindowsRules) {
  LogLineBuffer line;
  const WChar wide[] = LF_TEXT("Address already in use.");
  EXPECT_GT(FormatLine(line, LF_TEXT("Failed to bind the TCP socket. Port : %d Error : %s."), 58627, wide), 0);
  EXPECT_EQ(Utf8(line), "Failed to bind the TCP socket. Port : 58627 Error : Address already in use..");

  FormatLine(line, LF_TEXT("TCP client connected to Port : %d from %S"), -5, "127.0.0.1");
  EXPECT_EQ(Utf8(line), "TCP client connected to Port : -5 from 127.0.0.1");

  FormatLine(line, LF_TEXT("100%% %u %i"), 4294967295u, -2147483647 - 1);
  EXPECT_EQ(Utf8(line), "100% 4294967295 -2147483648");

  const WChar* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  FormatLine(line, LF_TEXT("[%s][%S]"), nullWide, nullNarrow);
  EXPECT_EQ(Utf8(line), "[(null)][(null)]");
}

TEST(Format, DecimalIsThirtyTwoBitSigned) {
  LogLineBuffer line;
  // An unsigned time-out above INT32_MAX prints as the device's %d would.
  FormatLine(line, LF_TEXT("%d"), 4294967295u);
  EXPECT_EQ(Utf8(line), "-1");
}

TEST(Format, NarrowBytesWidenOneToOne) {
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("%S"), "\xe9");
  EXPECT_EQ(line[0], static_cast<WChar>(0xE9));
  EXPECT_EQ(line[1], 0);
}

TEST(Format, TruncatesAtCapacityAndAlwaysTerminates) {
  struct Case {
    std::size_t textLength;
    bool fits;
  };
  for (Case c : {Case{518, true}, Case{519, true}, Case{520, false}, Case{2000, false}}) {
    SCOPED_TRACE(c.textLength);
    std::string narrow(c.textLength, 'x');
    WChar line[kLogLineCapacity + 8];
    for (auto& ch : line) ch = '#';
    int written = FormatText(line, kLogLineCapacity, LF_TEXT("%S"), narrow.c_str());
    std::size_t expected = c.fits ? c.textLength : kLogLineCapacity - 1;
    EXPECT_EQ(written, c.fits ? static_cast<int>(c.textLength) : -1);
    EXPECT_EQ(WStrLen(line), expected);
    EXPECT_EQ(line[expected], 0);
    for (std::size_t i = kLogLineCapacity; i < kLogLineCapacity + 8; ++i) {
      EXPECT_EQ(line[i], '#') << "written past the buffer at " << i;
    }
  }
}

TEST(Format, ConversionCutMidwayStaysTerminated) {
  WChar small[6];
  EXPECT_EQ(FormatText(small, 6, LF_TEXT("ab%dcd"), 123456), -1);
  EXPECT_EQ(Utf8(small), "ab123");
  WChar one[1] = {'#'};
  EXPECT_EQ(FormatText(one, 1, LF_TEXT("abc")), -1);
  EXPECT_EQ(one[0], 0);
}

TEST(Format, RuntimeArgumentMismatchIsWrittenLiterally) {
  // The checked templates reject this at compile time; the argument-array
  // entry point must still never misread an argument.
  LogLineBuffer line;
  FormatArg args[] = {FormatArg(7)};
  FormatTextArgs(line, kLogLineCapacity, LF_TEXT("%s|%d|%d|%q"), args, 1);
  EXPECT_EQ(Utf8(line), "%s|7|%d|%q");
}

}  // namespace
}  // namespace lanfeed
