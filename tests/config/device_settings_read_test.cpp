// Reading the Device element through a strict fake tree: values, defaults and
// fall-backs, and the cursor discipline the host relies on.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "plugin/config/device_settings.h"
#include "tests/config/device_read_cases.h"
#include "tests/config/strict_config_node.h"
#include "tests/support/failing_allocation.h"

namespace lanfeed::testing {
namespace {

// Reads the Device child of the tree's root into `settings` the way the
// plug-in's Configure does.
void ReadFromRoot(StrictConfigTree& tree, DeviceSettings* settings) {
  ConfigNode* cursor = tree.root()->CreateCursor();
  ASSERT_NE(tree.root()->FindChild(cursor, "Device"), 0);
  settings->ReadDevice(cursor);
  tree.root()->ReleaseCursor(cursor);
}

std::string InPlugin(const std::string& device) { return "<Plugin>" + device + "</Plugin>"; }

class DeviceReadOnStrictTree : public ::testing::TestWithParam<DeviceReadCase> {};

TEST_P(DeviceReadOnStrictTree, GivesTheExpectedRecord) {
  StrictConfigTree tree(InPlugin(GetParam().device));
  DeviceSettings settings;
  ReadFromRoot(tree, &settings);
  ExpectSettings(settings, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceReadOnStrictTree, ::testing::ValuesIn(DeviceReadCases()), DeviceReadCaseName);

TEST(DeviceRead, CursorsAreSharedOnlyByEnabledProtocolAndPort) {
  StrictConfigTree tree(InPlugin(
      "<Device><Enabled>1</Enabled><Protocol>1</Protocol><Port>1</Port><TCPTimeout>1</TCPTimeout>"
      "<Feedback><OnDispatch><Beeper><Enabled>1</Enabled><Freq>1</Freq><Time>1</Time><Volume>1</Volume></Beeper>"
      "<LED><Enabled>1</Enabled><Time>1</Time><LEDColor>1</LEDColor></LED>"
      "<WaveFile><Enabled>1</Enabled><File>f</File></WaveFile>"
      "<Vibrator><Enabled>1</Enabled><Time>1</Time></Vibrator></OnDispatch></Feedback></Device>"));
  DeviceSettings settings;
  ReadFromRoot(tree, &settings);

  std::vector<std::vector<std::string>> deviceCursors;
  std::vector<std::string> otherLookups;
  for (const StrictConfigNode* cursor : tree.cursors()) {
    if (cursor->creatorName() == "Plugin") continue;  // the test's own cursor
    if (cursor->creatorName() == "Device") {
      deviceCursors.push_back(cursor->finds());
    } else {
      EXPECT_EQ(cursor->finds().size(), 1u) << "a cursor of " << cursor->creatorName() << " served several children";
      for (const auto& name : cursor->finds()) otherLookups.push_back(cursor->creatorName() + "/" + name);
    }
  }
  EXPECT_EQ(deviceCursors, (std::vector<std::vector<std::string>>{
                               {"Enabled", "Protocol", "Port"}, {"Feedback"}, {"TCPTimeout"}}));
  EXPECT_EQ(otherLookups, (std::vector<std::string>{
                              "Feedback/OnDispatch", "OnDispatch/Beeper", "Beeper/Enabled", "Beeper/Freq",
                              "Beeper/Time", "Beeper/Volume", "OnDispatch/LED", "LED/Enabled", "LED/Time",
                              "LED/LEDColor", "OnDispatch/WaveFile", "WaveFile/Enabled", "WaveFile/File",
                              "OnDispatch/Vibrator", "Vibrator/Enabled", "Vibrator/Time"}));
}

TEST(DeviceRead, MissingChildrenAreNeverRead) {
  // The strict tree fails the test on any read through a cursor whose
  // lookup found nothing; every lookup here finds nothing below OnDispatch.
  StrictConfigTree tree(InPlugin(
      "<Device><Feedback><OnDispatch><Beeper/><LED/><WaveFile/><Vibrator/></OnDispatch></Feedback></Device>"));
  DeviceSettings settings;
  ReadFromRoot(tree, &settings);
  ExpectSettings(settings, {});
}

TEST(DeviceRead, NullNodeResetsEverythingButEnabledAndReserved) {
  DeviceSettings settings;
  settings.Enabled = 0;
  settings.Port = 1;
  settings.Protocol = 0;
  settings.TCPTimeout = 2;
  settings.Feedback.Flags = 15;
  settings.Feedback.VibratorTime = 9;
  settings.ReadDevice(nullptr);
  ExpectSettings(settings, {.enabled = 0});
}

TEST(DeviceRead, EnabledIsNotResetByReading) {
  StrictConfigTree tree(InPlugin("<Device><Enabled>1</Enabled></Device>"));
  DeviceSettings settings;
  settings.Enabled = 0;
  ReadFromRoot(tree, &settings);
  EXPECT_EQ(settings.Enabled, 0);
}

TEST(DeviceRead, SecondReadReplacesThePath) {
  // Under the sanitizers a path that is not freed on the second read is a leak.
  StrictConfigTree first(InPlugin(
      "<Device><Feedback><OnDispatch><WaveFile><File>one.wav</File></WaveFile></OnDispatch></Feedback></Device>"));
  StrictConfigTree second(InPlugin(
      "<Device><Feedback><OnDispatch><WaveFile><File>two.wav</File></WaveFile></OnDispatch></Feedback></Device>"));
  StrictConfigTree none(InPlugin("<Device/>"));
  DeviceSettings settings;
  ReadFromRoot(first, &settings);
  ReadFromRoot(second, &settings);
  ASSERT_NE(settings.Feedback.WaveFilePath, nullptr);
  EXPECT_EQ(ToUtf8(settings.Feedback.WaveFilePath), "two.wav");
  ReadFromRoot(none, &settings);
  EXPECT_EQ(settings.Feedback.WaveFilePath, nullptr);
}

TEST(DeviceRead, PathIsCopiedWithRoomForItsTerminator) {
  // The fake fills every byte it is given and writes no NUL, so the reader
  // must ask for exactly n + 1 characters and terminate at index n itself.
  StrictConfigTree tree(InPlugin(
      "<Device><Feedback><OnDispatch><WaveFile><File>ab\xC3\xA9" "cd</File></WaveFile></OnDispatch></Feedback></Device>"));
  DeviceSettings settings;
  ReadFromRoot(tree, &settings);
  EXPECT_EQ(tree.copySizes(), std::vector<int32_t>{6 * 2});
  ASSERT_NE(settings.Feedback.WaveFilePath, nullptr);
  EXPECT_EQ(WStrLen(settings.Feedback.WaveFilePath), 5u);
}

TEST(DeviceRead, PathBeyondWhatTheHostCopiedIsZero) {
  // The host reports 8 characters and copies 3: the path is those 3, never
  // followed by whatever the buffer held before.
  StrictConfigTree tree(InPlugin(
      "<Device><Feedback><OnDispatch><WaveFile><File>a.w</File></WaveFile></OnDispatch></Feedback></Device>"));
  FakeElement* file = tree.rootElement().Child("Device")->Child("Feedback")->Child("OnDispatch")->Child("WaveFile")
      ->Child("File");
  file->reportedLength = 8;
  file->copiesValueOnly = true;
  DeviceSettings settings;
  {
    DirtyAllocations dirty;
    ReadFromRoot(tree, &settings);
  }
  ASSERT_NE(settings.Feedback.WaveFilePath, nullptr);
  EXPECT_EQ(ToUtf8(settings.Feedback.WaveFilePath), "a.w");
}

TEST(DeviceRead, UnallocatablePathLeavesNone) {
  for (int32_t length : {INT32_MAX, INT32_MAX / 2}) {
    StrictConfigTree tree(InPlugin(
        "<Device><Feedback><OnDispatch><WaveFile><File>x</File></WaveFile></OnDispatch></Feedback></Device>"));
    tree.rootElement().Child("Device")->Child("Feedback")->Child("OnDispatch")->Child("WaveFile")->Child("File")
        ->reportedLength = length;
    DeviceSettings settings;
    ReadFromRoot(tree, &settings);
    EXPECT_EQ(settings.Feedback.WaveFilePath, nullptr) << length;
    EXPECT_TRUE(tree.copySizes().empty()) << "a size that does not fit 32 bits was passed for " << length;
  }
}

// The feedback words a test sets and checks (the path is covered elsewhere).
struct Words {
  uint32_t flags = 0;
  uint16_t ledTime = 0;
  uint16_t ledColor = 0;
  int32_t beeperTime = 0;
  int32_t beeperFreq = 0;
  int32_t beeperVolume = 0;
  int32_t vibratorTime = 0;

  FeedbackParams ToParams() const {
    FeedbackParams p{};
    p.Flags = flags;
    p.LEDTime = ledTime;
    p.LEDColor = ledColor;
    p.BeeperTime = beeperTime;
    p.BeeperFreq = beeperFreq;
    p.BeeperVolume = beeperVolume;
    p.VibratorTime = vibratorTime;
    return p;
  }
  static Words Of(const FeedbackParams& p) {
    return {p.Flags, p.LEDTime, p.LEDColor, p.BeeperTime, p.BeeperFreq, p.BeeperVolume, p.VibratorTime};
  }
  bool operator==(const Words&) const = default;
};

void PrintTo(const Words& w, std::ostream* os) {
  *os << "flags=" << w.flags << " led=" << w.ledTime << "/" << w.ledColor << " beeper=" << w.beeperTime << "/"
      << w.beeperFreq << "/" << w.beeperVolume << " vibrator=" << w.vibratorTime;
}

// ReadOnDispatch on a record that already holds values: a missing child
// leaves its field as it was.
TEST(ReadOnDispatch, MissingChildrenLeaveFieldsAsTheyWere) {
  struct Case {
    const char* onDispatch;
    Words before;
    Words after;
  };
  const Case cases[] = {
      // LEDColor with low 16 bits 0 keeps the colour; the LED Time is replaced.
      {"<OnDispatch><LED><Time>5</Time><LEDColor>131072</LEDColor></LED></OnDispatch>",
       {.flags = 1, .ledTime = 9, .ledColor = 7},
       {.flags = 1, .ledTime = 5, .ledColor = 7}},
      // Only Freq given: Time and Volume stay; the beeper bit is added.
      {"<OnDispatch><Beeper><Freq>10</Freq></Beeper></OnDispatch>",
       {.flags = 8, .beeperTime = 11, .beeperFreq = 12, .beeperVolume = 13},
       {.flags = 9, .beeperTime = 11, .beeperFreq = 10, .beeperVolume = 13}},
      // A disabled beeper clears every bit read so far.
      {"<OnDispatch><Beeper><Enabled>0</Enabled></Beeper></OnDispatch>", {.flags = 15}, {.flags = 0}},
      // A Vibrator without Time keeps the old time.
      {"<OnDispatch><Vibrator><Enabled>1</Enabled></Vibrator></OnDispatch>",
       {.vibratorTime = 44},
       {.flags = 8, .vibratorTime = 44}},
  };
  for (const Case& c : cases) {
    StrictConfigTree tree(c.onDispatch);
    FeedbackParams feedback = c.before.ToParams();
    DeviceSettings::ReadOnDispatch(tree.root(), &feedback);
    EXPECT_EQ(Words::Of(feedback), c.after) << c.onDispatch;
  }
}

TEST(ReadOnDispatch, NullArgumentsDoNothing) {
  StrictConfigTree tree("<OnDispatch><Beeper><Enabled>0</Enabled></Beeper></OnDispatch>");
  DeviceSettings::ReadOnDispatch(tree.root(), nullptr);
  EXPECT_TRUE(tree.trace().empty());
  FeedbackParams feedback{};
  feedback.Flags = 6;
  DeviceSettings::ReadOnDispatch(nullptr, &feedback);
  EXPECT_EQ(feedback.Flags, 6u);
}

TEST(ReadFeedback, ResetsEvenWithoutNode) {
  DeviceSettings settings;
  settings.Feedback.Flags = 14;
  settings.Feedback.LEDTime = 3;
  settings.ReadFeedback(nullptr);
  ExpectSettings(settings, {});
}

TEST(DeviceSettingsCopy, IsDeepAndIndependent) {
  StrictConfigTree tree(InPlugin(
      "<Device><Protocol>0</Protocol><Port>7</Port><Feedback><OnDispatch><WaveFile><Enabled>1</Enabled>"
      "<File>\\a\\b.wav</File></WaveFile></OnDispatch></Feedback></Device>"));
  auto source = std::make_unique<DeviceSettings>();
  ReadFromRoot(tree, source.get());

  DeviceSettings assigned;
  assigned = *source;
  DeviceSettings constructed(*source);
  for (const DeviceSettings* copy : {&assigned, &constructed}) {
    ASSERT_NE(copy->Feedback.WaveFilePath, nullptr);
    EXPECT_NE(copy->Feedback.WaveFilePath, source->Feedback.WaveFilePath);
  }
  EXPECT_NE(assigned.Feedback.WaveFilePath, constructed.Feedback.WaveFilePath);

  source->Feedback.WaveFilePath[0] = 'X';  // the copies do not share the text
  source.reset();                          // nor the buffer
  const ExpectedSettings expected{.protocol = 0, .port = 7, .flags = 5, .wavePath = "\\a\\b.wav"};
  ExpectSettings(assigned, expected);
  ExpectSettings(constructed, expected);

  DeviceSettings withoutPath;
  assigned = withoutPath;  // replacing a path frees it (a leak under the sanitizers otherwise)
  EXPECT_EQ(assigned.Feedback.WaveFilePath, nullptr);
  const DeviceSettings& alias = constructed;
  constructed = alias;  // self-assignment keeps the record intact
  ASSERT_NE(constructed.Feedback.WaveFilePath, nullptr);
  EXPECT_EQ(ToUtf8(constructed.Feedback.WaveFilePath), "\\a\\b.wav");
}

}  // namespace
}  // namespace lanfeed::testing
