// Delivery path of the plug-in object: blocks per second handed to the host
// for several consumer counts, and heap allocations per delivered block
// (goal: none — one record on the stack, bytes passed by pointer).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "plugin/config/feedback_params.h"
#include "plugin/input_plugin.h"

namespace {

std::atomic<long long> g_allocations{0};

class CountingHost final : public lanfeed::HostServices {
 public:
  int32_t Deliver(const lanfeed::InputDataRecord* record) override {
    bytes += record->DataLength;
    return 0;
  }
  int32_t ShowFeedback(const lanfeed::FeedbackParams*) override { return 0; }
  int32_t WriteLog(int32_t, const lanfeed::WChar*) override { return 0; }
  int32_t SetStatusProperty(int32_t, int32_t, const void*) override { return 0; }
  unsigned long long bytes = 0;
};

}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main() {
  using Clock = std::chrono::steady_clock;
  static uint8_t block[8192];
  bool ok = true;
  for (int consumers : {1, 4, 16}) {
    CountingHost host;
    lanfeed::InputPlugin plugin;
    plugin.Initialize(&host);
    for (int c = 0; c < consumers; ++c) plugin.AddConsumer(static_cast<lanfeed::ConsumerId>(c));
    const int blocks = 2'000'000 / consumers;
    long long before = g_allocations.load();
    auto start = Clock::now();
    for (int i = 0; i < blocks; ++i) plugin.DeliverData(block, sizeof block);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    long long allocations = g_allocations.load() - before;
    std::printf("consumers %2d: %9.0f blocks/s, %6.1f ns per Deliver call, %lld allocations\n",
                consumers, blocks / seconds, seconds * 1e9 / (double(blocks) * consumers), allocations);
    if (allocations != 0) ok = false;
    plugin.Uninitialize();
  }
  std::printf(ok ? "goal met: delivery allocates nothing\n" : "GOAL MISSED: delivery allocated\n");
  return ok ? 0 : 1;
}
