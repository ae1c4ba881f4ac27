// Addresses and prefixes of BindAddress and AllowedPeers: which texts are
// addresses, their usual text form, and which peers a prefix covers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/config/net_address.h"

namespace lanfeed::testing {
namespace {

std::string Canonical(const std::string& text) {
  NetAddress address{};
  if (!ParseNetAddress(text.data(), text.size(), &address)) return "(not an address)";
  char out[kNetAddressTextCapacity];
  NetAddressToText(address, out);
  return out;
}

NetAddress Address(const std::string& text) {
  NetAddress address{};
  EXPECT_TRUE(ParseNetAddress(text.data(), text.size(), &address)) << text;
  return address;
}

bool Covers(const std::string& prefix, const std::string& address) {
  NetPrefix parsed{};
  EXPECT_TRUE(ParseNetPrefix(prefix.data(), prefix.size(), &parsed)) << prefix;
  return PrefixMatches(parsed, Address(address));
}

TEST(NetAddress, TextsAreReadWholeAndWrittenInTheirUsualForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"FD00::5", "fd00::5"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first of two equal runs
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:0:3:4:5:6:7:8", "1:0:3:4:5:6:7:8"},  // one zero group stays
      {"::ffff:10.1.2.3", "::ffff:10.1.2.3"},
      {"::FFFF:0a01:0203", "::ffff:10.1.2.3"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
  };
  for (const auto& [text, usual] : cases) EXPECT_EQ(Canonical(text), usual) << text;
  const char* notAddresses[] = {"", "localhost", "1.2.3", "1.2.3.4.5", "256.0.0.1", "01.2.3.4", "1.2.3.4 ",
                                "1..3.4", ":::", "1:2", "1::2::3", "12345::", "1:2:3:4:5:6:7:8:9",
                                "::1:", ":1::", "g::1", "1:2:3:4:5:6:7:8::", "::1.2.3", "1.2.3.4::"};
  for (const char* text : notAddresses) EXPECT_EQ(Canonical(text), "(not an address)") << '"' << text << '"';
}

TEST(NetAddress, PrefixesCoverTheirLeadingBitsOnly) {
  EXPECT_TRUE(Covers("127.0.0.2/32", "127.0.0.2"));
  EXPECT_FALSE(Covers("127.0.0.2/32", "127.0.0.1"));
  EXPECT_TRUE(Covers("127.0.0.2", "127.0.0.2"));
  EXPECT_TRUE(Covers("192.168.10.0/23", "192.168.11.200"));
  EXPECT_FALSE(Covers("192.168.10.0/23", "192.168.12.1"));
  EXPECT_TRUE(Covers("0.0.0.0/0", "8.8.8.8"));
  EXPECT_TRUE(Covers("fd00::/8", "fdff::1"));
  EXPECT_FALSE(Covers("fd00::/8", "fe80::1"));
  EXPECT_TRUE(Covers("::1", "::1"));
  // IPv4 and IPv6 never match each other, but an IPv4 peer on a dual-stack
  // socket (::ffff:a.b.c.d) is the IPv4 address it carries.
  EXPECT_FALSE(Covers("0.0.0.0/0", "::1"));
  EXPECT_FALSE(Covers("::/0", "127.0.0.1"));
  EXPECT_TRUE(Covers("10.1.0.0/16", "::ffff:10.1.2.3"));
  EXPECT_FALSE(Covers("10.1.0.0/16", "::ffff:10.2.2.3"));
  EXPECT_TRUE(Covers("::ffff:10.1.0.0/112", "10.1.9.9"));
  EXPECT_TRUE(SameAddress(Address("::ffff:127.0.0.1"), Address("127.0.0.1")));
  EXPECT_FALSE(SameAddress(Address("::1"), Address("127.0.0.1")));

  NetPrefix prefix{};
  const char* notPrefixes[] = {"10.0.0.0/", "10.0.0.0/33", "10.0.0.1/24", "10.0.0.0/08", "fd00::/129",
                               "fd00::1/8", "10.0.0.0/x", "/8"};
  for (const char* text : notPrefixes) {
    EXPECT_FALSE(ParseNetPrefix(text, std::strlen(text), &prefix)) << text;
  }
}

TEST(NetAddress, ListsTakeCommasAndBlanksAndFailWhole) {
  NetPrefix list[3];
  EXPECT_EQ(ParseNetPrefixList(" 10.0.0.0/8,,192.168.1.1\t::1 ", list, 3), 3);
  EXPECT_EQ(list[0].bits, 8);
  EXPECT_EQ(list[1].bits, 32);
  EXPECT_EQ(list[2].bits, 128);
  EXPECT_EQ(ParseNetPrefixList("", list, 3), 0);
  EXPECT_EQ(ParseNetPrefixList(", ,", list, 3), 0);
  EXPECT_EQ(ParseNetPrefixList("10.0.0.1, nope", list, 3), -1);
  EXPECT_EQ(ParseNetPrefixList("1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4", list, 3), -1);  // one too many
}

}  // namespace
}  // namespace lanfeed::testing
