#include "plugin/consumer_list.h"

#include <new>

namespace lanfeed {

bool ConsumerList::Add(ConsumerId consumer) {
  if (size_ == capacity_) {
    const std::size_t grown = capacity_ == 0 ? 4 : capacity_ * 2;
    if (grown <= capacity_) return false;
    auto* items = new (std::nothrow) ConsumerId[grown];
    if (items == nullptr) return false;
    for (std::size_t i = 0; i < size_; ++i) items[i] = items_[i];
    delete[] items_;
    items_ = items;
    capacity_ = grown;
  }
  items_[size_++] = consumer;
  return true;
}

void ConsumerList::RemoveAll(ConsumerId consumer) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size_; ++i) {
    if (items_[i] != consumer) items_[kept++] = items_[i];
  }
  size_ = kept;
}

}  // namespace lanfeed
