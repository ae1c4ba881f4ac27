// The host's configuration check: what it reports of a parsed file, by the
// plug-in's own reading, and what it leaves alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/config_check.h"
#include "host/config_tree.h"
#include "host/default_config.h"

namespace lanfeed::host {
namespace {

std::vector<ConfigFinding> Check(const std::string& xml, const SettingOverrides& overrides = {}) {
  ConfigTree tree;
  XmlError error;
  EXPECT_TRUE(tree.Parse(xml, &error)) << error.message;
  return CheckConfiguration(tree, overrides);
}

std::string Device(const std::string& inner) { return "<Plugin><Device>" + inner + "</Device></Plugin>"; }

TEST(ConfigCheck, ReportsEachValueThePluginDoesNotUseAsWritten) {
  struct Case {
    std::string device;  // inside Device
    std::string text;    // FormatFinding("f", ...) of the one finding
  };
  const Case cases[] = {
      {"<Port>70000</Port>", "f:1: Device/Port \"70000\": out of range (0 to 65535); the plug-in uses 58627"},
      {"<Port>-1</Port>", "f:1: Device/Port \"-1\": out of range (0 to 65535); the plug-in uses 58627"},
      {"<Port>99999999999</Port>", "f:1: Device/Port \"99999999999\": out of range (0 to 65535); the plug-in uses 58627"},
      {"<Port>abc</Port>",
       "f:1: Device/Port \"abc\": not a number; the plug-in uses 0: the system picks a free port and nobody is told which"},
      {"<Port>90x</Port>", "f:1: Device/Port \"90x\": not a number; the plug-in uses 90"},
      {"<Port></Port>", "f:1: Device/Port \"\": empty; the plug-in uses 58627"},
      {"<Port>0</Port>",
       "f:1: Device/Port \"0\": port 0; the plug-in uses 0: the system picks a free port and nobody is told which "
       "(give 1 to 65535)"},
      {"<TCPTimeout>-5</TCPTimeout>", "f:1: Device/TCPTimeout \"-5\": out of range (0 and up); the plug-in uses 60 s"},
      {"<TCPTimeout>99999999999</TCPTimeout>",
       "f:1: Device/TCPTimeout \"99999999999\": out of range (0 to 2147483647); the plug-in uses 2147483647 s"},
      {"<TCPTimeout>abc</TCPTimeout>", "f:1: Device/TCPTimeout \"abc\": not a number; the plug-in uses 0 (no time-out)"},
      {"<Protocol>2</Protocol>", "f:1: Device/Protocol \"2\": out of range (0 UDP, 1 TCP); the plug-in uses 1 (TCP)"},
      {"<Protocol>00</Protocol>", "f:1: Device/Protocol \"00\": out of range (0 UDP, 1 TCP); the plug-in uses 1 (TCP)"},
      {"<Protocol>udp</Protocol>", "f:1: Device/Protocol \"udp\": not a number; the plug-in uses 1 (TCP)"},
      {"<Enabled>false</Enabled>",
       "f:1: Device/Enabled \"false\": not 0 or 1 (only 0 switches the input off); the plug-in uses 1 (on)"},
      {"<Feedback><OnDispatch><Beeper><Freq>abc</Freq></Beeper></OnDispatch></Feedback>",
       "f:1: Device/Feedback/OnDispatch/Beeper/Freq \"abc\": not a number; the plug-in uses 0"},
      {"<Feedback><OnDispatch><Beeper><Enabled></Enabled></Beeper></OnDispatch></Feedback>",
       "f:1: Device/Feedback/OnDispatch/Beeper/Enabled \"\": empty; the plug-in uses 0 (off)"},
      {"<Feedback><OnDispatch><LED><Time>70000</Time></LED></OnDispatch></Feedback>",
       "f:1: Device/Feedback/OnDispatch/LED/Time \"70000\": out of range (0 to 65535); the plug-in uses 4464 (its "
       "low 16 bits)"},
      {"<port>9000</port>", "f:1: Device/port \"9000\": unknown element; the plug-in ignores it"},
      {"<Feedback><OnDispatch><Beep/></OnDispatch></Feedback>",
       "f:1: Device/Feedback/OnDispatch/Beep: unknown element; the plug-in ignores it"},
      {"<Port>9000</Port><Port>9001</Port>",
       "f:1: Device/Port: repeated element; the plug-in uses only the first Port here (line 1)"},
  };
  for (const Case& c : cases) {
    std::vector<ConfigFinding> findings = Check(Device(c.device));
    ASSERT_EQ(findings.size(), 1u) << c.device;
    EXPECT_EQ(FormatFinding("f", findings[0]), c.text);
  }
}

TEST(ConfigCheck, PeerRulesAreCheckedByThePluginsReading) {
  const std::pair<const char*, const char*> cases[] = {
      {"<BindAddress>localhost</BindAddress>",
       "f:1: Device/BindAddress \"localhost\": not an IPv4 or IPv6 address; the plug-in uses every local IPv4 address"},
      {"<BindAddress/>", "f:1: Device/BindAddress \"\": empty; the plug-in uses every local IPv4 address"},
      {"<AllowedPeers>10.1.2.3, 10.1.2.0/16</AllowedPeers>",
       "f:1: Device/AllowedPeers \"10.1.2.3, 10.1.2.0/16\": not a list of up to 32 addresses and prefixes (an entry "
       "is not an address, or has bits set past its prefix); the plug-in uses no allow-list: everyone may send"},
      {"<AllowedPeers> </AllowedPeers>", "f:1: Device/AllowedPeers \"\": empty; the plug-in uses no allow-list: everyone may send"},
      {"<MaxClients>0</MaxClients>", "f:1: Device/MaxClients \"0\": out of range (1 to 100000); the plug-in uses no limit"},
      {"<MaxClientsPerPeer>two</MaxClientsPerPeer>",
       "f:1: Device/MaxClientsPerPeer \"two\": not a number; the plug-in uses no limit"},
      {"<Framing>Line</Framing>", "f:1: Device/Framing \"Line\": not none, line, delimiter or fixed; the plug-in uses "
                                  "none (a record is what one receive returned)"},
      {"<FrameDelimiter>0D0</FrameDelimiter>", "f:1: Device/FrameDelimiter \"0D0\": not 1 to 8 bytes as hex digits; "
                                               "the plug-in uses no delimiter (framing delimiter reads as none)"},
      {"<FrameLength>8193</FrameLength>", "f:1: Device/FrameLength \"8193\": out of range (1 to 8192); the plug-in "
                                          "uses no length (framing fixed reads as none)"},
  };
  for (const auto& [device, text] : cases) {
    std::vector<ConfigFinding> findings = Check(Device(device));
    ASSERT_EQ(findings.size(), 1u) << device;
    EXPECT_EQ(FormatFinding("f", findings[0]), text);
  }
  EXPECT_TRUE(Check(Device("<BindAddress>::1</BindAddress><AllowedPeers>192.168.10.0/24, 10.1.2.3 fd00::/8"
                           "</AllowedPeers><MaxClients>100000</MaxClients><MaxClientsPerPeer>1</MaxClientsPerPeer>"
                           "<Framing>delimiter</Framing><FrameDelimiter>0d0A</FrameDelimiter><FrameLength>8192</FrameLength>"))
                  .empty());
  SettingOverrides overrides;
  overrides.bindAddress = "127.0.0.1";
  overrides.allowedPeers = "127.0.0.2";
  overrides.maxClients = 3;
  overrides.maxClientsPerPeer = 1;
  EXPECT_TRUE(Check(Device("<BindAddress>x</BindAddress><AllowedPeers>y</AllowedPeers><MaxClients>0</MaxClients>"
                           "<MaxClientsPerPeer>0</MaxClientsPerPeer>"),
                    overrides)
                  .empty());
}

TEST(ConfigCheck, ReportsARootWithoutDeviceAndGivesLines) {
  std::vector<ConfigFinding> findings = Check("<foo/>");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].why, "wrong root: <foo> holds no Device element");
  findings = Check("<?xml version=\"1.0\"?>\n<Device>\n  <Port>9000</Port>\n</Device>\n");
  ASSERT_EQ(findings.size(), 1u) << "one finding for the whole file";
  EXPECT_EQ(findings[0].line, 2);
  EXPECT_EQ(findings[0].why, "wrong root: the plug-in reads the Device element inside the root");
  findings = Check("<Plugin>\n<Device/>\n<Device>\n<Port>1</Port>\n</Device>\n<Extra/>\n</Plugin>");
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(FormatFinding("f", findings[0]), "f:3: Device: repeated element; the plug-in uses only the first Device element (line 2)");
  EXPECT_EQ(FormatFinding("f", findings[1]), "f:6: Extra: unknown element; the plug-in ignores it");
}

TEST(ConfigCheck, AcceptsWhatThePluginUsesAndSkipsWhatTheCommandLineReplaces) {
  EXPECT_TRUE(Check(Device("<Enabled>0</Enabled><Protocol>0</Protocol><Port>65535</Port><TCPTimeout>5000</TCPTimeout>"
                           "<Feedback><OnDispatch><Beeper><Enabled>1</Enabled><Freq>-3</Freq></Beeper>"
                           "<LED><Time>65535</Time><LEDColor>2</LEDColor></LED><WaveFile><File>\\a b.wav</File>"
                           "</WaveFile><Vibrator><Time>50</Time></Vibrator></OnDispatch></Feedback>"))
                  .empty());
  EXPECT_TRUE(Check(Device("<Port> 9000 </Port>")).empty()) << "blanks around a value are not part of it";
  SettingOverrides overrides;
  overrides.protocol = 1;
  overrides.port = 9000;
  overrides.tcpTimeout = 5;
  EXPECT_TRUE(Check(Device("<Protocol>x</Protocol><Port>abc</Port><TCPTimeout>-1</TCPTimeout>"), overrides).empty());
}

}  // namespace
}  // namespace lanfeed::host
