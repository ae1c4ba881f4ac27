#include <gtest/gtest.h>

#include <atomic>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"

namespace lanfeed {
namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0)) << "a manual-reset event must not reset itself on a wait";
  EXPECT_TRUE(event.Wait());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(20));
}

TEST(Event, WaitForEitherFirstListedWins) {
  ManualResetEvent stop, start;
  EXPECT_EQ(WaitForEither(stop, start, 10), WaitResult::kTimeout);
  start.Set();
  EXPECT_EQ(WaitForEither(stop, start, kWaitForever), WaitResult::kSecond);
  stop.Set();
  EXPECT_EQ(WaitForEither(stop, start, kWaitForever), WaitResult::kFirst);
  EXPECT_EQ(WaitForEither(start, stop, kWaitForever), WaitResult::kFirst);
  start.Reset();
  EXPECT_EQ(WaitForEither(start, stop, 0), WaitResult::kSecond);
}

struct WakeContext {
  ManualResetEvent* first;
  ManualResetEvent* second;
  std::atomic<int> result{-1};
};

uint32_t WaitBoth(void* raw) {
  auto* ctx = static_cast<WakeContext*>(raw);
  ctx->result = static_cast<int>(WaitForEither(*ctx->first, *ctx->second, 10000));
  return 7;
}

TEST(Event, SetFromAnotherThreadWakesWaiterOnEither) {
  for (int which = 0; which < 2; ++which) {
    ManualResetEvent a, b;
    WakeContext ctx{&a, &b};
    Thread thread;
    ASSERT_TRUE(thread.Start(&WaitBoth, &ctx));
    SleepMs(20);
    (which == 0 ? a : b).Set();
    EXPECT_EQ(thread.Join(), 7u);
    EXPECT_EQ(ctx.result.load(), static_cast<int>(which == 0 ? WaitResult::kFirst : WaitResult::kSecond));
    EXPECT_FALSE(thread.IsStarted());
  }
}

TEST(Thread, JoinWithoutThreadReturnsZeroAndStartTwiceIsRefused) {
  Thread thread;
  EXPECT_EQ(thread.Join(), 0u);
  ManualResetEvent gate;
  auto proc = [](void* raw) -> uint32_t {
    static_cast<ManualResetEvent*>(raw)->Wait();
    return 1;
  };
  ASSERT_TRUE(thread.Start(proc, &gate));
  EXPECT_FALSE(thread.Start(proc, &gate));
  EXPECT_FALSE(thread.IsCurrent());
  gate.Set();
  EXPECT_EQ(thread.Join(), 1u);
}

TEST(RecursiveLock, OwnerReentersOthersWait) {
  RecursiveLock lock;
  lock.Acquire();
  EXPECT_TRUE(lock.TryAcquire()) << "the owning thread must be able to enter again";
  struct Ctx {
    RecursiveLock* lock;
    std::atomic<bool> got{false};
  } ctx{&lock};
  auto probe = [](void* raw) -> uint32_t {
    auto* c = static_cast<Ctx*>(raw);
    if (c->lock->TryAcquire()) {
      c->got = true;
      c->lock->Release();
    }
    return 0;
  };
  Thread other;
  ASSERT_TRUE(other.Start(probe, &ctx));
  other.Join();
  EXPECT_FALSE(ctx.got.load());
  lock.Release();
  lock.Release();
  Thread again;
  ASSERT_TRUE(again.Start(probe, &ctx));
  again.Join();
  EXPECT_TRUE(ctx.got.load()) << "the lock must be free after as many releases as entries";
}

TEST(Time, MonotonicClockAdvancesAcrossSleep) {
  uint64_t before = MonotonicMs();
  SleepMs(30);
  EXPECT_GE(MonotonicMs() - before, 10u);  // coarse tick on Windows
}

}  // namespace
}  // namespace lanfeed
