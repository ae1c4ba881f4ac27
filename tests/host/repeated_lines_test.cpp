// How lanfeed-host holds back a flood of one log line: the copies written,
// the summaries and their counts, on a clock the test moves.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "host/repeated_lines.h"

namespace lanfeed::host {
namespace {

using namespace std::chrono_literals;

// Feeds lines to a RepeatedLines and keeps what would be written.
struct Feed {
  RepeatedLines lines;
  RepeatedLines::Clock::time_point now{};
  int written = 0;
  uint64_t summed = 0;   // copies in summaries
  int summaries = 0;

  void Take(const std::optional<RepeatedLines::Summary>& summary) {
    if (!summary) return;
    ++summaries;
    summed += summary->count;
  }
  void Offer(const std::string& text, int32_t level = 1) {
    RepeatedLines::Decision decision = lines.Offer(level, text, now);
    Take(decision.before);
    written += decision.write ? 1 : 0;
  }
  void Tick() { Take(lines.Tick(now)); }
};

TEST(RepeatedLines, AFloodBecomesOneSummaryPerSecondAndEveryCopyIsCounted) {
  Feed feed;
  // 10,000 copies over 2.5 s, ticks four times a second as the host does.
  for (int i = 0; i < 10000; ++i) {
    feed.Offer("Error reading data");
    feed.now += 250us;
    if (i % 1000 == 999) feed.Tick();
  }
  EXPECT_EQ(feed.written, RepeatedLines::kWrittenPerSecond) << "the first 10 only";
  EXPECT_EQ(feed.summaries, 2) << "one per whole second of the flood";
  feed.now += 1s;
  feed.Tick();  // the rest, about a second after the flood ended
  EXPECT_EQ(feed.summaries, 3);
  EXPECT_EQ(feed.written + feed.summed, 10000u);

  // A quiet second later the line is written again as it comes.
  feed.now += 1s;
  feed.Tick();
  feed.Offer("Error reading data");
  EXPECT_EQ(feed.written, RepeatedLines::kWrittenPerSecond + 1);
}

TEST(RepeatedLines, AnotherLineFirstSumsUpTheHeldBackCopies) {
  Feed feed;
  for (int i = 0; i < 25; ++i) feed.Offer("same");
  EXPECT_EQ(feed.written, 10);
  EXPECT_EQ(feed.summaries, 0) << "no second has passed yet";
  feed.Offer("other");
  EXPECT_EQ(feed.summaries, 1) << "the summary comes before the other line";
  EXPECT_EQ(feed.summed, 15u);
  EXPECT_EQ(feed.written, 11);

  // The same text at another level is another line; a slow repetition
  // (10 a second at most) is never held back.
  feed.Offer("other", 3);
  EXPECT_EQ(feed.written, 12);
  for (int i = 0; i < 40; ++i) {
    feed.Offer("slow");
    feed.now += 100ms;
  }
  EXPECT_EQ(feed.written, 52);
  EXPECT_FALSE(feed.lines.Flush().has_value());
}

TEST(RepeatedLines, FlushGivesWhatIsHeldBackAtOnce) {
  Feed feed;
  for (int i = 0; i < 12; ++i) feed.Offer("x");
  std::optional<RepeatedLines::Summary> rest = feed.lines.Flush();
  ASSERT_TRUE(rest.has_value());
  EXPECT_EQ(rest->count, 2u);
  EXPECT_EQ(rest->text, "x");
  EXPECT_EQ(rest->level, 1);
  EXPECT_FALSE(feed.lines.Flush().has_value());
}

}  // namespace
}  // namespace lanfeed::host
