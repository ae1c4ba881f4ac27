// A configuration tree held in memory, offered to the plug-in through the
// host's ConfigNode interface: enough for Configure to read the Device
// settings. The benchmarks never ask for the default configuration, so the
// writing operations refuse (result 0) and change nothing.
//
// Not thread-safe: used from the driving thread only, while Configure runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/config/config_node.h"

namespace bench {

struct ConfigElement {
  std::string name;
  std::string value;
  std::vector<std::unique_ptr<ConfigElement>> children;

  ConfigElement* Add(const std::string& childName, const std::string& childValue = "");
};

class MemoryConfigNode final : public lanfeed::ConfigNode {
 public:
  explicit MemoryConfigNode(ConfigElement* element) : element_(element) {}
  MemoryConfigNode(const MemoryConfigNode&) = delete;
  MemoryConfigNode& operator=(const MemoryConfigNode&) = delete;

  int32_t GetValueLength() override;
  const char* GetValueA() override;
  int32_t CopyValueW(lanfeed::WChar* buffer, int32_t size_bytes) override;
  int32_t GetValueInt() override;
  int32_t LoadFragments(const char* const*) override { return 0; }
  int32_t GetChildCount() override;
  int32_t FindChild(ConfigNode* cursor, const char* name) override;
  int32_t AppendChild(ConfigNode*, const char*, void*) override { return 0; }
  int32_t Clear() override { return 0; }
  int32_t SetAttributeW(const char*, const lanfeed::WChar*, int32_t) override { return 0; }
  int32_t SetAttributeA(const char*, const char*, int32_t) override { return 0; }
  int32_t SetAttributeInt(const char*, int32_t, int32_t) override { return 0; }
  ConfigNode* CreateCursor() override;
  int32_t ReleaseCursor(ConfigNode* cursor) override;

  // Cursors created and not yet released (the plug-in must release each).
  std::size_t openCursors() const { return cursors_.size(); }

 private:
  MemoryConfigNode* OwnCursor(ConfigNode* cursor) const;

  ConfigElement* element_;  // null: the cursor stands nowhere
  std::vector<std::unique_ptr<MemoryConfigNode>> cursors_;
};

// The plug-in's configuration: Plugin/Device with Enabled 1, Protocol (1 TCP,
// 0 UDP), Port and TCPTimeout in seconds (0: no limit); with `framing` (not
// empty) also Framing.
std::unique_ptr<ConfigElement> DeviceConfiguration(bool udp, int port, int tcpTimeoutSeconds,
                                                   const std::string& framing = "");

}  // namespace bench
