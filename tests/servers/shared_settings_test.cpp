// SharedSettings: what a pin keeps, and what the settings keep under
// readers that never stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "plugin/servers/shared_settings.h"

namespace lanfeed {
namespace {

// Settings whose Port and TCPTimeout belong together, so that a reader can
// tell a record written whole from one mixed up or freed.
DeviceSettings Numbered(int32_t n) {
  DeviceSettings settings;
  settings.Port = 1000 + n % 50000;
  settings.TCPTimeout = n % 50000;
  return settings;
}

TEST(SharedSettingsTest, APinKeepsItsRecordAndTheReplacedOnesGoWithTheirLastPin) {
  SharedSettings shared;
  EXPECT_EQ(shared.RecordsAllocated(), 0);
  ASSERT_TRUE(shared.Assign(Numbered(1)));
  EXPECT_EQ(shared.RecordsAllocated(), 1);
  {
    const SharedSettings::Pin first = shared.Acquire();
    ASSERT_TRUE(shared.Assign(Numbered(2)));
    ASSERT_TRUE(shared.Assign(Numbered(3)));
    // The pinned record and the current one; the one in between is gone.
    EXPECT_EQ(shared.RecordsAllocated(), 2);
    EXPECT_EQ(first->Port, 1001);
    EXPECT_EQ(first->TCPTimeout, 1);
    // A pin taken after Assign returned sees the new record.
    const SharedSettings::Pin latest = shared.Acquire();
    EXPECT_EQ(latest->Port, 1003);
    EXPECT_EQ(shared.Port(), 1003);
  }
  EXPECT_EQ(shared.RecordsAllocated(), 1);
}

// Records replaced while readers pin all the time must not pile up: at any
// moment the settings hold the current record and at most one per reader.
TEST(SharedSettingsTest, ReplacedRecordsDoNotPileUpUnderConstantReads) {
  constexpr int kReaders = 2;
  constexpr int kAssigns = 300;
  SharedSettings shared;
  ASSERT_TRUE(shared.Assign(Numbered(0)));
  std::atomic<bool> stop{false};
  std::atomic<long> mismatches{0};
  std::atomic<long> pins{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&] {
      // Bounded in time even if the writer below fails early.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
        const SharedSettings::Pin pin = shared.Acquire();
        if (pin->Port != 1000 + pin->TCPTimeout) mismatches.fetch_add(1);
        pins.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  // Start assigning once every reader is pinning.
  const auto started = std::chrono::steady_clock::now();
  while (pins.load() < 1000 && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
    std::this_thread::yield();
  }
  int32_t most = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int n = 1; n <= kAssigns; ++n) {
    // Every Assign comes while the readers are pinning.
    const long seen = pins.load();
    while (pins.load() == seen && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_TRUE(shared.Assign(Numbered(n)));
    const int32_t allocated = shared.RecordsAllocated();
    if (allocated > most) most = allocated;
  }
  stop.store(true);
  for (std::thread& reader : readers) reader.join();
  EXPECT_LE(most, 1 + kReaders) << "replaced records kept while readers pin";
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(shared.RecordsAllocated(), 1);
  EXPECT_EQ(shared.Acquire()->TCPTimeout, kAssigns);
}

}  // namespace
}  // namespace lanfeed
