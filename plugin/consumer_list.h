// The plug-in's registered consumers in registration order, the same
// consumer possibly more than once. Storage grows with the non-throwing
// allocation: an entry that cannot be stored is refused, never raised. Not
// thread-safe: the plug-in guards it with its lock.
#pragma once

#include <cstddef>

#include "plugin/plugin_interface.h"

namespace lanfeed {

class ConsumerList {
 public:
  ConsumerList() = default;
  ~ConsumerList() { delete[] items_; }
  ConsumerList(const ConsumerList&) = delete;
  ConsumerList& operator=(const ConsumerList&) = delete;

  // Appends `consumer`; false, with the list unchanged, when no memory is left.
  bool Add(ConsumerId consumer);
  // Removes every entry of `consumer`, keeping the others' order.
  void RemoveAll(ConsumerId consumer);

  std::size_t Size() const { return size_; }
  const ConsumerId* begin() const { return items_; }
  const ConsumerId* end() const { return items_ + size_; }

 private:
  ConsumerId* items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace lanfeed
