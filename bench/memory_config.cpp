#include "bench/memory_config.h"

#include <algorithm>
#include <cstdlib>

namespace bench {

ConfigElement* ConfigElement::Add(const std::string& childName, const std::string& childValue) {
  children.push_back(std::make_unique<ConfigElement>());
  children.back()->name = childName;
  children.back()->value = childValue;
  return children.back().get();
}

int32_t MemoryConfigNode::GetValueLength() {
  return element_ != nullptr ? static_cast<int32_t>(element_->value.size()) : 0;
}

const char* MemoryConfigNode::GetValueA() { return element_ != nullptr ? element_->value.c_str() : ""; }

int32_t MemoryConfigNode::CopyValueW(lanfeed::WChar* buffer, int32_t size_bytes) {
  if (buffer == nullptr || element_ == nullptr || size_bytes < 2) return 0;
  const std::size_t capacity = static_cast<std::size_t>(size_bytes) / 2;
  const std::size_t count = std::min(capacity, element_->value.size());
  for (std::size_t i = 0; i < count; ++i) {
    buffer[i] = static_cast<unsigned char>(element_->value[i]);  // the bench writes ASCII only
  }
  if (count < capacity) buffer[count] = 0;
  return static_cast<int32_t>(count);
}

int32_t MemoryConfigNode::GetValueInt() {
  return element_ != nullptr ? static_cast<int32_t>(std::strtol(element_->value.c_str(), nullptr, 10)) : 0;
}

int32_t MemoryConfigNode::GetChildCount() {
  return element_ != nullptr ? static_cast<int32_t>(element_->children.size()) : 0;
}

int32_t MemoryConfigNode::FindChild(ConfigNode* cursor, const char* name) {
  MemoryConfigNode* own = OwnCursor(cursor);
  if (own == nullptr || name == nullptr) return 0;
  own->element_ = nullptr;
  if (element_ == nullptr) return 0;
  for (const auto& child : element_->children) {
    if (child->name == name) {
      own->element_ = child.get();
      return 1;
    }
  }
  return 0;
}

lanfeed::ConfigNode* MemoryConfigNode::CreateCursor() {
  cursors_.push_back(std::make_unique<MemoryConfigNode>(nullptr));
  return cursors_.back().get();
}

int32_t MemoryConfigNode::ReleaseCursor(ConfigNode* cursor) {
  for (auto it = cursors_.begin(); it != cursors_.end(); ++it) {
    if (it->get() == cursor) {
      cursors_.erase(it);
      return 1;
    }
  }
  return 0;
}

MemoryConfigNode* MemoryConfigNode::OwnCursor(ConfigNode* cursor) const {
  for (const auto& own : cursors_) {
    if (own.get() == cursor) return own.get();
  }
  return nullptr;
}

std::unique_ptr<ConfigElement> DeviceConfiguration(bool udp, int port, int tcpTimeoutSeconds,
                                                   const std::string& framing) {
  auto root = std::make_unique<ConfigElement>();
  root->name = "Plugin";
  ConfigElement* device = root->Add("Device");
  device->Add("Enabled", "1");
  device->Add("Protocol", udp ? "0" : "1");
  device->Add("Port", std::to_string(port));
  device->Add("TCPTimeout", std::to_string(tcpTimeoutSeconds));
  if (!framing.empty()) device->Add("Framing", framing);
  return root;
}

}  // namespace bench
