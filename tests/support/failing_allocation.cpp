#include "tests/support/failing_allocation.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace lanfeed::testing {
namespace {
// Allocations left before the one that fails; 0: disarmed.
thread_local long t_countdown = 0;
thread_local bool t_fired = false;
thread_local bool t_dirty = false;

bool FailThisOne() {
  if (t_countdown == 0 || --t_countdown != 0) return false;
  t_fired = true;
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (FailThisOne()) return nullptr;
  void* block = std::malloc(size != 0 ? size : 1);
  if (block != nullptr && t_dirty) std::memset(block, 0xBE, size);
  return block;
}
}  // namespace

FailingAllocation::FailingAllocation(long nth) {
  t_fired = false;
  t_countdown = nth;
}

FailingAllocation::~FailingAllocation() { t_countdown = 0; }

bool FailingAllocation::fired() const { return t_fired; }

DirtyAllocations::DirtyAllocations() { t_dirty = true; }
DirtyAllocations::~DirtyAllocations() { t_dirty = false; }

}  // namespace lanfeed::testing

// The replacements: malloc and free underneath, so every form pairs with
// every other, also under the sanitizers.
void* operator new(std::size_t size) {
  void* block = lanfeed::testing::Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return lanfeed::testing::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return lanfeed::testing::Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
