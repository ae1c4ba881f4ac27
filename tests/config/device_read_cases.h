// Reading cases shared by the tests of the settings reader over the strict
// fake tree and over the host's XML tree: a Device element and the record
// that reading it into a new DeviceSettings must give.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "plugin/config/device_settings.h"

namespace lanfeed::testing {

struct ExpectedSettings {
  int32_t enabled = 1;
  int32_t protocol = 1;
  int32_t port = 58627;
  int32_t timeout = 60;
  uint32_t flags = 1;
  int32_t beeperTime = 300;
  int32_t beeperFreq = 3000;
  int32_t beeperVolume = 0;
  uint16_t ledTime = 0;
  uint16_t ledColor = 0;
  int32_t vibratorTime = 0;
  const char* wavePath = nullptr;  // UTF-8; null: no path
  int32_t framing = 0;
  std::string_view frameDelimiter = {};  // the bytes
  int32_t frameLength = 0;
  std::string_view bindAddress = {};   // its text; empty: none
  std::string_view allowedPeers = {};  // "address/bits" entries joined by ","; empty: everyone
  int32_t maxClients = 0;
  int32_t maxClientsPerPeer = 0;
};

struct DeviceReadCase {
  const char* name;  // a test name: letters, digits and underscores
  const char* device;
  ExpectedSettings expected;
};

inline std::vector<DeviceReadCase> DeviceReadCases() {
  return {
      {"NoChildren", "<Device/>", {}},
      {"UnknownChildrenIgnored", "<Device><Colour>red</Colour><port>1</port></Device>", {}},

      {"EnabledZero", "<Device><Enabled>0</Enabled></Device>", {.enabled = 0}},
      {"EnabledDoubleZero", "<Device><Enabled>00</Enabled></Device>", {}},
      {"EnabledFalse", "<Device><Enabled>false</Enabled></Device>", {}},
      {"EnabledOne", "<Device><Enabled>1</Enabled></Device>", {}},
      {"EnabledEmpty", "<Device><Enabled></Enabled></Device>", {}},

      {"ProtocolZeroIsUdp", "<Device><Protocol>0</Protocol></Device>", {.protocol = 0}},
      {"ProtocolDoubleZero", "<Device><Protocol>00</Protocol></Device>", {}},
      {"ProtocolOne", "<Device><Protocol>1</Protocol></Device>", {}},
      {"ProtocolTwo", "<Device><Protocol>2</Protocol></Device>", {}},
      {"ProtocolEmpty", "<Device><Protocol/></Device>", {}},

      {"PortHighest", "<Device><Port>65535</Port></Device>", {.port = 65535}},
      {"PortZero", "<Device><Port>0</Port></Device>", {.port = 0}},
      {"PortOneAboveRange", "<Device><Port>65536</Port></Device>", {}},
      {"PortNegative", "<Device><Port>-1</Port></Device>", {}},
      {"PortEmpty", "<Device><Port></Port></Device>", {}},
      {"PortBeyond32Bits", "<Device><Port>99999999999</Port></Device>", {}},
      {"PortBelow32Bits", "<Device><Port>-99999999999</Port></Device>", {}},
      {"UdpOnPort5000", "<Device><Enabled>1</Enabled><Protocol>0</Protocol><Port>5000</Port></Device>",
       {.protocol = 0, .port = 5000}},

      {"TimeoutZero", "<Device><TCPTimeout>0</TCPTimeout></Device>", {.timeout = 0}},
      {"Timeout900", "<Device><TCPTimeout>900</TCPTimeout></Device>", {.timeout = 900}},
      {"Timeout5000NoUpperBound", "<Device><TCPTimeout>5000</TCPTimeout></Device>", {.timeout = 5000}},
      {"TimeoutNegative", "<Device><TCPTimeout>-5</TCPTimeout></Device>", {}},
      {"TimeoutEmpty", "<Device><TCPTimeout></TCPTimeout></Device>", {}},

      {"FeedbackWithoutOnDispatch", "<Device><Feedback/></Device>", {}},
      {"EmptyOnDispatch", "<Device><Feedback><OnDispatch/></Feedback></Device>", {}},
      {"BeeperOffLedOn",
       "<Device><Feedback><OnDispatch><Beeper><Enabled>0</Enabled></Beeper>"
       "<LED><Enabled>1</Enabled></LED></OnDispatch></Feedback></Device>",
       {.flags = 2}},
      {"OnlyVibratorKeepsBeeper",
       "<Device><Feedback><OnDispatch><Vibrator><Enabled>1</Enabled><Time>250</Time></Vibrator>"
       "</OnDispatch></Feedback></Device>",
       {.flags = 9, .vibratorTime = 250}},
      {"BeeperWithoutEnabledBeepsWithItsValues",
       "<Device><Feedback><OnDispatch><Beeper><Freq>4000</Freq><Time>100</Time><Volume>7</Volume>"
       "</Beeper></OnDispatch></Feedback></Device>",
       {.beeperTime = 100, .beeperFreq = 4000, .beeperVolume = 7}},
      {"BeeperAnyNonZeroEnables",
       "<Device><Feedback><OnDispatch><Beeper><Enabled>-3</Enabled></Beeper></OnDispatch></Feedback></Device>",
       {}},
      {"BeeperOffKeepsItsValues",
       "<Device><Feedback><OnDispatch><Beeper><Enabled>0</Enabled><Freq>1</Freq><Time>2</Time>"
       "<Volume>3</Volume></Beeper><Vibrator><Enabled>1</Enabled></Vibrator></OnDispatch></Feedback></Device>",
       {.flags = 8, .beeperTime = 2, .beeperFreq = 1, .beeperVolume = 3}},
      {"BeeperFullIntegers",
       "<Device><Feedback><OnDispatch><Beeper><Freq>100000</Freq><Time>-70000</Time></Beeper>"
       "</OnDispatch></Feedback></Device>",
       {.beeperTime = -70000, .beeperFreq = 100000}},
      {"LedWithoutEnabledIsOff",
       "<Device><Feedback><OnDispatch><LED><Time>40</Time><LEDColor>3</LEDColor></LED></OnDispatch>"
       "</Feedback></Device>",
       {.ledTime = 40, .ledColor = 3}},
      {"LedTimeKeepsLow16Bits",
       "<Device><Feedback><OnDispatch><LED><Enabled>1</Enabled><Time>65537</Time></LED></OnDispatch>"
       "</Feedback></Device>",
       {.flags = 3, .ledTime = 1}},
      {"LedTimeNegative",
       "<Device><Feedback><OnDispatch><LED><Time>-1</Time></LED></OnDispatch></Feedback></Device>",
       {.ledTime = 65535}},
      {"LedColorLow16BitsZeroLeavesColour",
       "<Device><Feedback><OnDispatch><LED><LEDColor>65536</LEDColor></LED></OnDispatch></Feedback></Device>",
       {.ledColor = 0}},
      {"LedColorLow16BitsOne",
       "<Device><Feedback><OnDispatch><LED><LEDColor>65537</LEDColor></LED></OnDispatch></Feedback></Device>",
       {.ledColor = 1}},
      {"WaveFileOffStillHoldsPath",
       "<Device><Feedback><OnDispatch><WaveFile><Enabled>0</Enabled><File>\\Windows\\Alarm1.wav</File>"
       "</WaveFile></OnDispatch></Feedback></Device>",
       {.wavePath = "\\Windows\\Alarm1.wav"}},
      {"WaveFileWithoutEnabledHoldsPath",
       "<Device><Feedback><OnDispatch><WaveFile><File>a.wav</File></WaveFile></OnDispatch></Feedback></Device>",
       {.wavePath = "a.wav"}},
      {"WaveFileOn",
       "<Device><Feedback><OnDispatch><WaveFile><Enabled>1</Enabled><File>\\Sounds\\ding.wav</File>"
       "</WaveFile></OnDispatch></Feedback></Device>",
       {.flags = 5, .wavePath = "\\Sounds\\ding.wav"}},
      {"WaveFileOnEmptyFileNoPath",
       "<Device><Feedback><OnDispatch><WaveFile><Enabled>1</Enabled><File></File></WaveFile></OnDispatch>"
       "</Feedback></Device>",
       {.flags = 5}},
      {"WaveFileNonAsciiPath",
       "<Device><Feedback><OnDispatch><WaveFile><File>\\Klänge\\Größe 𝄞.wav</File></WaveFile></OnDispatch>"
       "</Feedback></Device>",
       {.wavePath = "\\Klänge\\Größe 𝄞.wav"}},
      {"Everything",
       "<Device><Enabled>1</Enabled><Protocol>0</Protocol><Port>4000</Port><TCPTimeout>30</TCPTimeout>"
       "<Feedback><OnDispatch><Beeper><Enabled>1</Enabled><Freq>2500</Freq><Time>50</Time><Volume>2</Volume>"
       "</Beeper><LED><Enabled>1</Enabled><Time>500</Time><LEDColor>4</LEDColor></LED>"
       "<Vibrator><Enabled>1</Enabled><Time>120</Time></Vibrator>"
       "<WaveFile><Enabled>1</Enabled><File>x.wav</File></WaveFile></OnDispatch></Feedback></Device>",
       {.protocol = 0, .port = 4000, .timeout = 30, .flags = 15, .beeperTime = 50, .beeperFreq = 2500,
        .beeperVolume = 2, .ledTime = 500, .ledColor = 4, .vibratorTime = 120, .wavePath = "x.wav"}},

      // Framing: a rule without its delimiter or length, and any value
      // other than the four words, leaves the framing at none.
      {"FramingLine", "<Device><Framing>line</Framing></Device>", {.framing = 1}},
      {"FramingWordsAreExact", "<Device><Framing>Line</Framing><FrameLength>5</FrameLength></Device>",
       {.frameLength = 5}},
      {"FramingNone", "<Device><Framing>none</Framing><FrameDelimiter>0A</FrameDelimiter></Device>",
       {.frameDelimiter = "\n"}},
      {"FramingDelimiterEtx", "<Device><Framing>delimiter</Framing><FrameDelimiter>03</FrameDelimiter></Device>",
       {.framing = 2, .frameDelimiter = "\x03"}},
      {"FramingDelimiterCrLfAnyCase",
       "<Device><Framing>delimiter</Framing><FrameDelimiter>0d0A</FrameDelimiter></Device>",
       {.framing = 2, .frameDelimiter = "\r\n"}},
      {"FramingDelimiterNul", "<Device><Framing>delimiter</Framing><FrameDelimiter>00</FrameDelimiter></Device>",
       {.framing = 2, .frameDelimiter = std::string_view("\0", 1)}},
      {"FramingDelimiterEightBytes",
       "<Device><Framing>delimiter</Framing><FrameDelimiter>A1B2C3D4E5F60718</FrameDelimiter></Device>",
       {.framing = 2, .frameDelimiter = "\xa1\xb2\xc3\xd4\xe5\xf6\x07\x18"}},
      {"FramingDelimiterNineBytesIsNone",
       "<Device><Framing>delimiter</Framing><FrameDelimiter>010203040506070809</FrameDelimiter></Device>", {}},
      {"FramingDelimiterOddDigitsIsNone",
       "<Device><Framing>delimiter</Framing><FrameDelimiter>0D0</FrameDelimiter></Device>", {}},
      {"FramingDelimiterNotHexIsNone",
       "<Device><Framing>delimiter</Framing><FrameDelimiter>0x03</FrameDelimiter></Device>", {}},
      {"FramingDelimiterEmptyIsNone", "<Device><Framing>delimiter</Framing><FrameDelimiter/></Device>", {}},
      {"FramingDelimiterMissingIsNone", "<Device><Framing>delimiter</Framing></Device>", {}},
      {"FramingFixed", "<Device><Framing>fixed</Framing><FrameLength>10</FrameLength></Device>",
       {.framing = 3, .frameLength = 10}},
      {"FramingFixedLongest", "<Device><Framing>fixed</Framing><FrameLength>8192</FrameLength></Device>",
       {.framing = 3, .frameLength = 8192}},
      {"FramingFixedTooLongIsNone", "<Device><Framing>fixed</Framing><FrameLength>8193</FrameLength></Device>", {}},
      {"FramingFixedZeroIsNone", "<Device><Framing>fixed</Framing><FrameLength>0</FrameLength></Device>", {}},
      {"FramingFixedEmptyIsNone", "<Device><Framing>fixed</Framing><FrameLength/></Device>", {}},
      {"FramingBesideEverySetting",
       "<Device><Enabled>1</Enabled><Protocol>1</Protocol><Port>4000</Port><TCPTimeout>30</TCPTimeout>"
       "<Feedback/><Framing>line</Framing></Device>",
       {.port = 4000, .timeout = 30, .framing = 1}},
      // Where the server listens and who may send: a value that is not
      // usable leaves its setting absent.
      {"BindAddressIpv4", "<Device><BindAddress>127.0.0.1</BindAddress></Device>", {.bindAddress = "127.0.0.1"}},
      {"BindAddressIpv6", "<Device><BindAddress>::1</BindAddress></Device>", {.bindAddress = "::1"}},
      {"BindAddressEveryIpv6", "<Device><BindAddress>::</BindAddress></Device>", {.bindAddress = "::"}},
      {"BindAddressBlanksAround", "<Device><BindAddress> 192.168.1.20 </BindAddress></Device>",
       {.bindAddress = "192.168.1.20"}},
      {"BindAddressNameIsNone", "<Device><BindAddress>localhost</BindAddress></Device>", {}},
      {"BindAddressOutOfRangeIsNone", "<Device><BindAddress>127.0.0.256</BindAddress></Device>", {}},
      {"BindAddressThreePartsIsNone", "<Device><BindAddress>127.0.1</BindAddress></Device>", {}},
      {"BindAddressWithPortIsNone", "<Device><BindAddress>127.0.0.1:80</BindAddress></Device>", {}},
      {"BindAddressEmptyIsNone", "<Device><BindAddress/></Device>", {}},
      {"AllowedPeersList", "<Device><AllowedPeers>192.168.10.0/24, 10.1.2.3 fd00::/8</AllowedPeers></Device>",
       {.allowedPeers = "192.168.10.0/24,10.1.2.3/32,fd00::/8"}},
      {"AllowedPeersEveryone", "<Device><AllowedPeers>0.0.0.0/0</AllowedPeers></Device>",
       {.allowedPeers = "0.0.0.0/0"}},
      {"AllowedPeersOneBadEntryIsEveryone", "<Device><AllowedPeers>10.1.2.3, scanner7</AllowedPeers></Device>", {}},
      {"AllowedPeersHostBitsIsEveryone", "<Device><AllowedPeers>10.1.2.3/24</AllowedPeers></Device>", {}},
      {"AllowedPeersLongPrefixIsEveryone", "<Device><AllowedPeers>10.1.2.3/33</AllowedPeers></Device>", {}},
      {"AllowedPeersOnlySeparatorsIsEveryone", "<Device><AllowedPeers> , ,</AllowedPeers></Device>", {}},
      {"MaxClients", "<Device><MaxClients>3</MaxClients><MaxClientsPerPeer>1</MaxClientsPerPeer></Device>",
       {.maxClients = 3, .maxClientsPerPeer = 1}},
      {"MaxClientsLargest", "<Device><MaxClients>100000</MaxClients></Device>", {.maxClients = 100000}},
      {"MaxClientsTooManyIsNone", "<Device><MaxClients>100001</MaxClients></Device>", {}},
      {"MaxClientsZeroIsNone", "<Device><MaxClients>0</MaxClients><MaxClientsPerPeer>-2</MaxClientsPerPeer></Device>",
       {}},
      {"MaxClientsEmptyIsNone", "<Device><MaxClients/></Device>", {}},
      {"PeerRulesBesideEverySetting",
       "<Device><Enabled>1</Enabled><Protocol>0</Protocol><Port>4000</Port><TCPTimeout>30</TCPTimeout>"
       "<Feedback/><BindAddress>10.0.0.7</BindAddress><MaxClientsPerPeer>2</MaxClientsPerPeer></Device>",
       {.protocol = 0, .port = 4000, .timeout = 30, .bindAddress = "10.0.0.7", .maxClientsPerPeer = 2}},
  };
}

inline void ExpectSettings(const DeviceSettings& actual, const ExpectedSettings& expected) {
  EXPECT_EQ(actual.Enabled, expected.enabled);
  EXPECT_EQ(actual.Protocol, expected.protocol);
  EXPECT_EQ(actual.Reserved, 0u);
  EXPECT_EQ(actual.Port, expected.port);
  EXPECT_EQ(actual.TCPTimeout, expected.timeout);
  const FeedbackParams& f = actual.Feedback;
  EXPECT_EQ(f.Flags, expected.flags);
  EXPECT_EQ(f.BeeperTime, expected.beeperTime);
  EXPECT_EQ(f.BeeperFreq, expected.beeperFreq);
  EXPECT_EQ(f.BeeperVolume, expected.beeperVolume);
  EXPECT_EQ(f.LEDTime, expected.ledTime);
  EXPECT_EQ(f.LEDColor, expected.ledColor);
  EXPECT_EQ(f.VibratorTime, expected.vibratorTime);
  EXPECT_EQ(f.Reserved1, 0u);
  EXPECT_EQ(f.Reserved2, 0u);
  if (expected.wavePath == nullptr) {
    EXPECT_EQ(f.WaveFilePath, nullptr);
  } else if (f.WaveFilePath == nullptr) {
    ADD_FAILURE() << "no wave-file path, expected \"" << expected.wavePath << "\"";
  } else {
    EXPECT_EQ(ToUtf8(f.WaveFilePath), expected.wavePath);
  }
  EXPECT_EQ(actual.Framing, expected.framing);
  ASSERT_GE(actual.FrameDelimiterLength, 0);
  ASSERT_LE(actual.FrameDelimiterLength, kMaxFrameDelimiterBytes);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(actual.FrameDelimiter),
                             static_cast<std::size_t>(actual.FrameDelimiterLength)),
            expected.frameDelimiter);
  EXPECT_EQ(actual.FrameLength, expected.frameLength);
  char text[kNetAddressTextCapacity];
  NetAddressToText(actual.BindAddress, text);
  EXPECT_EQ(std::string_view(text), expected.bindAddress);
  std::string peers;
  ASSERT_GE(actual.AllowedPeerCount, 0);
  ASSERT_LE(actual.AllowedPeerCount, kMaxAllowedPeers);
  for (int32_t i = 0; i < actual.AllowedPeerCount; ++i) {
    NetAddressToText(actual.AllowedPeers[i].address, text);
    peers += (i > 0 ? "," : "") + std::string(text) + "/" + std::to_string(actual.AllowedPeers[i].bits);
  }
  EXPECT_EQ(peers, expected.allowedPeers);
  EXPECT_EQ(actual.MaxClients, expected.maxClients);
  EXPECT_EQ(actual.MaxClientsPerPeer, expected.maxClientsPerPeer);
}

inline void PrintTo(const DeviceReadCase& c, std::ostream* os) { *os << c.name << ": " << c.device; }

// gtest parameter names.
inline std::string DeviceReadCaseName(const ::testing::TestParamInfo<DeviceReadCase>& info) {
  return info.param.name;
}

// The tree WriteDefaultConfig leaves, written as
// Name[attribute=value,...](children...), for comparing whole trees.
inline constexpr char kDefaultTemplateShape[] =
    "Plugin[lib=LanFeed.dll,id=LANFEED,desc=LAN Feed,version=1.1]("
    "Device[id=0,desc=Server0,name=Server0,devicetype=4]("
    "Enabled[type=bool,default=1],"
    "Protocol[type=integer,min=0,max=1,default=1],"
    "Port[type=integer,min=1,max=65635,default=58627],"
    "TCPTimeout[type=integer,min=0,max=900,default=60],"
    "Feedback(OnDispatch[type=feedback]("
    "Beeper(Enabled[default=1],Freq[default=3000],Time[default=300],Volume[default=0]),"
    "LED,Vibrator,WaveFile))))";

}  // namespace lanfeed::testing
