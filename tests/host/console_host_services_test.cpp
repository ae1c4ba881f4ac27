// What lanfeed-host prints for each host service call.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/console_host_services.h"
#include "host/host_options.h"
#include "host/json_lines.h"
#include "platform/text.h"

namespace lanfeed::host {
namespace {

std::string Escape(const std::string& bytes, std::size_t limit = kShownBytes) {
  return EscapeBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), limit);
}

TEST(EscapeBytes, ShowsPrintableTextAndEscapesTheRest) {
  struct Case {
    std::string bytes;
    const char* shown;
  };
  const Case cases[] = {
      {"hello", "hello"},
      {"a\nb\r\t", "a\\nb\\r\\t"},
      {std::string("\0\x7f\x80\xff", 4), "\\x00\\x7f\\x80\\xff"},
      // Printable UTF-8 as text; C1 controls, invalid and cut sequences as bytes.
      {"\xE2\x82\xAC \xF0\x9F\x98\x80 \xC3\xA9", "\xE2\x82\xAC \xF0\x9F\x98\x80 \xC3\xA9"},
      {"\xC2\x85\xC2\xA0", "\\xc2\\x85\xC2\xA0"},
      {"\xE2\x82", "\\xe2\\x82"},
      {"\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},
      {"\x82\xAC\xE2\x82\xAC", "\\x82\\xac\xE2\x82\xAC"},
      {"say \"hi\" \\o/", "say \\\"hi\\\" \\\\o/"},
      {"~ !", "~ !"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Escape(c.bytes), c.shown);
}

TEST(EscapeBytes, CutsLongDataWithANote) {
  std::string bytes(250, 'x');
  std::string shown = Escape(bytes);
  EXPECT_EQ(shown, std::string(200, 'x') + "... (50 more bytes)");
  EXPECT_EQ(Escape(std::string(200, 'y')), std::string(200, 'y')) << "exactly the limit is not cut";
  EXPECT_EQ(Escape("\x01\x02\x03", 2), "\\x01\\x02... (1 more bytes)");
  // A character is never cut in two: it goes with the rest.
  EXPECT_EQ(Escape("ab\xE2\x82\xAC", 3), "ab... (3 more bytes)");
  EXPECT_EQ(Escape("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
}

TEST(ConsoleHostServices, PrintsOneLinePerCall) {
  std::vector<std::string> lines;
  ConsoleHostServices services([&](const std::string& line) { lines.push_back(line); });
  HostServices& host = services;

  const uint8_t data[] = {'o', 'k', '\n'};
  InputDataRecord record{7, {0, 4, 0, 0, 0}, 3, data};
  host.Deliver(&record);

  WChar path[] = LF_TEXT("\\Sounds\\d\u00e9ja.wav");
  FeedbackParams feedback{};
  feedback.Flags = kFeedbackBeeper | kFeedbackWaveFile | kFeedbackVibrator;
  feedback.LEDTime = 100;
  feedback.LEDColor = 2;
  feedback.BeeperTime = 300;
  feedback.BeeperFreq = 3000;
  feedback.BeeperVolume = 1;
  feedback.WaveFilePath = path;
  feedback.VibratorTime = 50;
  host.ShowFeedback(&feedback);
  feedback.WaveFilePath = nullptr;
  feedback.Flags = 0;
  host.ShowFeedback(&feedback);

  host.WriteLog(1, LF_TEXT("Failed to bind the TCP socket. Port : 5 Error : x."));
  int32_t listening = 1;
  int32_t idle = 0;
  host.SetStatusProperty(kListeningStatusProperty, 4, &listening);
  host.SetStatusProperty(kListeningStatusProperty, 4, &idle);
  host.SetStatusProperty(9, 2, &idle);
  services.Print("own line");

  const std::vector<std::string> expected = {
      "deliver consumer=7 length=3 data=\"ok\\n\"",
      "feedback flags=0xd beeper=on time=300 freq=3000 volume=1 led=off time=100 color=2 wave=on "
      "path=\"\\Sounds\\d\xC3\xA9ja.wav\" vibrator=on time=50",
      "feedback flags=0x0 beeper=off time=300 freq=3000 volume=1 led=off time=100 color=2 wave=off "
      "path=(none) vibrator=off time=50",
      "log 1 Failed to bind the TCP socket. Port : 5 Error : x.",
      "status property=2 size=4 value=1 (listening)",
      "status property=2 size=4 value=0 (not listening)",
      "status property=9 size=2 value=(unreadable)",
      "own line",
  };
  EXPECT_EQ(lines, expected);
}

TEST(ConsoleHostServices, LinesFromSeveralThreadsNeverInterleave) {
  // The sink below is not thread-safe on purpose: the services must hand it
  // one line at a time.
  std::vector<std::string> lines;
  ConsoleHostServices services([&](const std::string& line) { lines.push_back(line); });
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&services, t] {
      WString text = LF_TEXT("thread ");
      text += static_cast<WChar>('0' + t);
      for (int i = 0; i < kLinesEach; ++i) services.WriteLog(3, text.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
  int counts[kThreads] = {};
  for (const auto& line : lines) {
    ASSERT_EQ(line.size(), std::string("log 3 thread 0").size()) << line;
    ASSERT_EQ(line.rfind("log 3 thread ", 0), 0u) << line;
    ++counts[line.back() - '0'];
  }
  for (int count : counts) EXPECT_EQ(count, kLinesEach);
}

TEST(HostOptions, ParsesTheThreeOptions) {
  const char* argv[] = {"lanfeed-host", "--config", "c.xml", "--plugin", "p.so", "--write-default-config", "d.xml"};
  HostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions(7, argv, &options, &error)) << error;
  EXPECT_EQ(options.configFile, "c.xml");
  EXPECT_EQ(options.pluginPath, "p.so");
  EXPECT_EQ(options.writeDefaultConfig, "d.xml");
  EXPECT_FALSE(options.help);

  const char* none[] = {"lanfeed-host"};
  ASSERT_TRUE(ParseHostOptions(1, none, &options, &error));
  EXPECT_TRUE(options.configFile.empty());
  EXPECT_TRUE(options.pluginPath.empty());
}

TEST(HostOptions, ParsesTheServingOptions) {
  const char* argv[] = {"lanfeed-host", "--udp=1", "--timeout", "2147483647", "--output", "raw", "--keep-retrying"};
  HostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions(7, argv, &options, &error)) << error;
  EXPECT_EQ(options.overrides.protocol, 0);
  EXPECT_EQ(options.overrides.port, 1);
  EXPECT_EQ(options.overrides.tcpTimeout, 2147483647);
  EXPECT_EQ(options.output, OutputMode::kRaw);
  EXPECT_TRUE(options.keepRetrying);

  const char* tcp[] = {"lanfeed-host", "--tcp", "65535", "--output=jsonl", "--version"};
  ASSERT_TRUE(ParseHostOptions(5, tcp, &options, &error)) << error;
  EXPECT_EQ(options.overrides.protocol, 1);
  EXPECT_EQ(options.overrides.port, 65535);
  EXPECT_FALSE(options.overrides.tcpTimeout);
  EXPECT_EQ(options.output, OutputMode::kJsonLines);
  EXPECT_FALSE(options.keepRetrying);
  EXPECT_TRUE(options.version);
}

TEST(HostOptions, FramingRulesBecomeTheThreeSettings) {
  struct Case {
    const char* rule;
    const char* framing;
    const char* delimiter;  // null: not set
    int32_t length;         // 0: not set
  };
  const Case cases[] = {
      {"none", "none", nullptr, 0},
      {"line", "line", nullptr, 0},
      {"delimiter:0d0A", "delimiter", "0d0A", 0},
      {"delimiter:0102030405060708", "delimiter", "0102030405060708", 0},
      {"fixed:1", "fixed", nullptr, 1},
      {"fixed:8192", "fixed", nullptr, 8192},
  };
  for (const Case& c : cases) {
    const std::string argument = std::string("--framing=") + c.rule;
    const char* argv[] = {"lanfeed-host", argument.c_str()};
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseHostOptions(2, argv, &options, &error)) << error;
    EXPECT_EQ(options.overrides.framing, c.framing) << c.rule;
    EXPECT_EQ(options.overrides.frameDelimiter.value_or("(unset)"), c.delimiter ? c.delimiter : "(unset)") << c.rule;
    EXPECT_EQ(options.overrides.frameLength.value_or(0), c.length) << c.rule;
    EXPECT_FALSE(options.overrides.empty());
  }
  for (const char* bad : {"Line", "delimiter:", "delimiter:3", "delimiter:0x", "delimiter:010203040506070809",
                          "fixed:0", "fixed:8193", "fixed:", "fixed:-1", "fixed"}) {
    const char* argv[] = {"lanfeed-host", "--framing", bad};
    HostOptions options;
    std::string error;
    EXPECT_FALSE(ParseHostOptions(3, argv, &options, &error)) << bad;
    EXPECT_EQ(error, std::string("--framing: '") + bad +
                         "' is not one of none, line, delimiter:HEX (1 to 8 bytes), fixed:N (1 to 8192)");
  }
}

TEST(HostOptions, PeerRulesBecomeTheirSettingsOrAreRefused) {
  const char* argv[] = {"lanfeed-host", "--bind", "::1", "--allow=127.0.0.2/32, 10.0.0.0/8",
                        "--max-clients", "100000", "--max-clients-per-peer", "1"};
  HostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions(8, argv, &options, &error)) << error;
  EXPECT_EQ(options.overrides.bindAddress, "::1");
  EXPECT_EQ(options.overrides.allowedPeers, "127.0.0.2/32, 10.0.0.0/8");
  EXPECT_EQ(options.overrides.maxClients, 100000);
  EXPECT_EQ(options.overrides.maxClientsPerPeer, 1);
  EXPECT_FALSE(options.overrides.empty());

  const std::pair<std::vector<const char*>, const char*> bad[] = {
      {{"--bind", "localhost"}, "--bind: 'localhost' is not an IPv4 or IPv6 address (127.0.0.1, ::1, ::)"},
      {{"--bind", "127.0.0.1:80"}, "--bind: '127.0.0.1:80' is not an IPv4 or IPv6 address (127.0.0.1, ::1, ::)"},
      {{"--allow", "10.0.0.1/8"},
       "--allow: '10.0.0.1/8' is not a list of up to 32 addresses and prefixes (192.168.10.0/24,10.1.2.3)"},
      {{"--allow", ","}, "--allow: ',' is not a list of up to 32 addresses and prefixes (192.168.10.0/24,10.1.2.3)"},
      {{"--max-clients", "0"}, "--max-clients: '0' is not a number of clients (1 to 100000)"},
      {{"--max-clients-per-peer", "100001"}, "--max-clients-per-peer: '100001' is not a number of clients (1 to 100000)"},
      {{"--max-clients", "3", "--max-clients", "4"}, "--max-clients given twice"},
  };
  for (const auto& [args, message] : bad) {
    std::vector<const char*> line = {"lanfeed-host"};
    line.insert(line.end(), args.begin(), args.end());
    HostOptions rejected;
    std::string why;
    EXPECT_FALSE(ParseHostOptions(static_cast<int>(line.size()), line.data(), &rejected, &why)) << args[0];
    EXPECT_EQ(why, message);
  }
}

TEST(HostOptions, RejectsWhatItCannotUse) {
  struct Case {
    std::vector<const char*> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--config"}, "--config needs a value"},
      {{"--config", ""}, "--config needs a value"},
      {{"--plugin", "a", "--plugin", "b"}, "--plugin given twice"},
      {{"--port", "5"}, "unknown argument '--port'"},
      {{"c.xml"}, "unknown argument 'c.xml'"},
      {{"--tcp", "65536"}, "--tcp: '65536' is not a port number (1 to 65535)"},
      {{"--udp=+5"}, "--udp: '+5' is not a port number (1 to 65535)"},
      {{"--tcp", "99999999999"}, "--tcp: '99999999999' is not a port number (1 to 65535)"},
      {{"--timeout", "2147483648"}, "--timeout: '2147483648' is not a number of seconds"},
      {{"--timeout", " 5"}, "--timeout: ' 5' is not a number of seconds"},
      {{"--tcp", "1", "--udp", "2"}, "--tcp and --udp exclude each other"},
      {{"--output", "json"}, "--output: 'json' is not one of text, jsonl, raw"},
      {{"--keep-retrying=yes"}, "--keep-retrying takes no value"},
      {{"-h", "--help"}, "--help given twice"},
      {{"--tcp="}, "--tcp needs a value"},
      {{"--udp", "0"},
       "--udp: port 0 would be a free port that the system picks and nobody is told; give a port from 1 to 65535"},
      {{"--check-config", "a.xml", "--config", "b.xml"}, "--check-config excludes --config"},
      {{"--write-default-config", "a.xml", "--check-config", "b.xml"}, "--check-config excludes --write-default-config"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"lanfeed-host"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    HostOptions options;
    std::string error;
    EXPECT_FALSE(ParseHostOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(JsonLines, TellsUtf8FromOtherBytes) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {std::string("a\0b", 3), true},
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA6 \xF4\x8F\xBF\xBF", true},  // up to U+10FFFF
      {"\xC3", false},                                                      // cut sequence
      {"\xC3\xA9\xE2\x82", false},                                          // cut at the end
      {"\x80", false},                                                      // continuation without lead
      {"\xC0\xAF", false},                                                  // overlong "/"
      {"\xE0\x80\xAF", false},                                              // overlong, 3 bytes
      {"\xF0\x82\x82\xAC", false},                                          // overlong, 4 bytes
      {"\xED\xA0\x80", false},                                              // surrogate U+D800
      {"\xF4\x90\x80\x80", false},                                          // above U+10FFFF
      {"\xFF\xFE", false},
      {"a\xC3(", false},                                                    // lead without continuation
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << EscapeBytes(
      reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
}

TEST(JsonLines, Base64AndTimeFormats) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {std::string("\xFF\xFE\x00\x3F", 4), "//4APw=="},
  };
  for (const auto& [bytes, encoded] : cases) EXPECT_EQ(Base64(bytes), encoded);

  using namespace std::chrono;
  sys_days day = year{2024} / February / 29;
  EXPECT_EQ(Iso8601Utc(day + 23h + 59min + 58s + 7us), "2024-02-29T23:59:58.000007Z");
  EXPECT_EQ(Iso8601Utc(sys_days(year{1970} / January / 1)), "1970-01-01T00:00:00.000000Z");
}

TEST(JsonLines, OneObjectPerEvent) {
  const uint8_t text[] = {'a', '"', '\n'};
  InputDataRecord record{3, {0, 4, 0, 0, 0}, 3, text};
  EXPECT_EQ(JsonDelivery("T", record),
            "{\"time\":\"T\",\"event\":\"deliver\",\"consumer\":3,\"length\":3,\"data_base64\":\"YSIK\","
            "\"data\":\"a\\\"\\n\"}\n");
  const uint8_t binary[] = {0xFF};
  record.Data = binary;
  record.DataLength = 1;
  EXPECT_EQ(JsonDelivery("T", record),
            "{\"time\":\"T\",\"event\":\"deliver\",\"consumer\":3,\"length\":1,\"data_base64\":\"/w==\"}\n");
  EXPECT_EQ(JsonDelivery("T", record, "[::1]:53211"),
            "{\"time\":\"T\",\"event\":\"deliver\",\"consumer\":3,\"length\":1,\"peer\":\"[::1]:53211\","
            "\"data_base64\":\"/w==\"}\n");
  EXPECT_EQ(ConsoleHostServices::DescribeDelivery(record, "127.0.0.1:9"),
            "deliver consumer=3 length=1 peer=127.0.0.1:9 data=\"\\xff\"");

  WChar path[] = LF_TEXT("\\d\u00e9ja.wav");
  FeedbackParams feedback{};
  feedback.Flags = kFeedbackBeeper | kFeedbackLed;
  feedback.LEDTime = 65535;
  feedback.LEDColor = 2;
  feedback.BeeperTime = -1;
  feedback.BeeperFreq = 3000;
  feedback.WaveFilePath = path;
  feedback.VibratorTime = 50;
  EXPECT_EQ(JsonFeedback("T", feedback),
            "{\"time\":\"T\",\"event\":\"feedback\",\"flags\":3,\"led_time\":65535,\"led_color\":2,"
            "\"beeper_time\":-1,\"beeper_freq\":3000,\"beeper_volume\":0,\"wave_file\":\"\\\\d\xC3\xA9ja.wav\","
            "\"vibrator_time\":50}\n");
  EXPECT_EQ(JsonRepeated("T", 990, 1, "x\"y"),
            "{\"time\":\"T\",\"event\":\"repeated\",\"count\":990,\"level\":1,\"text\":\"x\\\"y\"}\n");
  EXPECT_EQ(JsonLog("T", 1, LF_TEXT("tab\there")),
            "{\"time\":\"T\",\"event\":\"log\",\"level\":1,\"text\":\"tab\\there\"}\n");
  int32_t listening = 1;
  EXPECT_EQ(JsonStatus("T", 2, 4, &listening),
            "{\"time\":\"T\",\"event\":\"status\",\"property\":2,\"value\":1}\n");
  EXPECT_EQ(JsonStatus("T", 9, 2, &listening),
            "{\"time\":\"T\",\"event\":\"status\",\"property\":9,\"value\":null}\n");
}

}  // namespace
}  // namespace lanfeed::host
