// What lanfeed-host prints for each host service call.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/console_host_services.h"
#include "host/host_options.h"
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
      {"a\nb\r\t", "a\\x0ab\\x0d\\x09"},
      {std::string("\0\x7f\x80\xff", 4), "\\x00\\x7f\\x80\\xff"},
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
      "deliver consumer=7 length=3 data=\"ok\\x0a\"",
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

}  // namespace
}  // namespace lanfeed::host
