#include "plugin/servers/socket_error_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/text.h"

namespace lanfeed {
namespace {

std::string TextOf(int32_t code) {
  WChar buffer[kSocketErrorTextCapacity];
  GetSocketErrorText(code, buffer, kSocketErrorTextCapacity);
  return ToUtf8(buffer);
}

struct KnownCode {
  int32_t code;
  const char* text;
};

constexpr KnownCode kKnownCodes[] = {
    {10004, "Socket is closed or a process is terminated."},
    {10013, "Permission denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Resource temporarily unavailable."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection on reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send after socket shutdown."},
    {10060, "Connection timed out."},
    {10061, "Connection refused. "},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10067, "Too many processes."},
    {10091, "Network subsystem is unavailable."},
    {10092, "Winsock.dll version out of range."},
    {10093, "Successful WSAStartup not yet performed."},
    {10101, "Graceful shutdown in progress."},
    {10109, "Class type not found."},
    {11001, "Host not found."},
    {11002, "Nonauthoritative host not found."},
    {11003, "This is a nonrecoverable error."},
    {11004, "Valid name, no data record of requested type."},
};

TEST(SocketErrorText, EveryKnownCodeHasItsSentence) {
  static_assert(sizeof(kKnownCodes) / sizeof(kKnownCodes[0]) == 43);
  for (const KnownCode& known : kKnownCodes) {
    EXPECT_EQ(TextOf(known.code), known.text) << known.code;
  }
}

TEST(SocketErrorText, OnlyConnectionRefusedEndsInABlank) {
  for (const KnownCode& known : kKnownCodes) {
    const std::string text = TextOf(known.code);
    EXPECT_EQ(text.back() == ' ', known.code == 10061) << known.code;
  }
}

TEST(SocketErrorText, CodesWithoutASentenceAreUndefined) {
  const int32_t undefined[] = {0,     -1,    1,     10000, 10003, 10005, 10023, 10059,
                               10062, 10066, 10068, 10094, 10110, 11000, 11005, 12000,
                               INT_MIN, INT_MAX};
  for (int32_t code : undefined) EXPECT_EQ(TextOf(code), "Error undefined.") << code;
}

TEST(SocketErrorText, NullBufferOrZeroCapacityWritesNothing) {
  WChar buffer[8];
  for (WChar& c : buffer) c = u'#';
  GetSocketErrorText(10048, buffer, 0);
  GetSocketErrorText(99999, buffer, 0);
  for (WChar c : buffer) EXPECT_EQ(c, u'#');
  GetSocketErrorText(10048, nullptr, kSocketErrorTextCapacity);  // must not crash
}

TEST(SocketErrorText, CopyIsBoundedAndTerminated) {
  WChar buffer[8];
  for (WChar& c : buffer) c = u'#';
  GetSocketErrorText(10048, buffer, 5);
  EXPECT_EQ(ToUtf8(buffer), "Addr");
  EXPECT_EQ(buffer[5], u'#');
  GetSocketErrorText(10048, buffer, 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], u'd');
}

}  // namespace
}  // namespace lanfeed
