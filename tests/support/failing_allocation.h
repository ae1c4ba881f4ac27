// Allocation seams for tests. Linking failing_allocation.cpp into
// a test program replaces the program's global allocation functions with
// ones that behave as usual until a FailingAllocation arms them: the armed
// thread's n-th allocation from then on fails (the throwing forms throw
// std::bad_alloc, the nothrow forms return null). Other threads never fail.
// Typical use walks n from 1 up until an operation completes without the
// failure firing, checking at every step how the operation failed.
#pragma once

namespace lanfeed::testing {

class FailingAllocation {
 public:
  explicit FailingAllocation(long nth);  // 1: the very next allocation
  ~FailingAllocation();                  // disarms
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // True once the armed allocation has failed.
  bool fired() const;
};

// While alive, every allocation on the constructing thread comes filled
// with 0xBE bytes (as AddressSanitizer fills them), so that code which hands
// on memory it never wrote shows non-zero garbage in every build.
class DirtyAllocations {
 public:
  DirtyAllocations();
  ~DirtyAllocations();
  DirtyAllocations(const DirtyAllocations&) = delete;
  DirtyAllocations& operator=(const DirtyAllocations&) = delete;
};

}  // namespace lanfeed::testing
