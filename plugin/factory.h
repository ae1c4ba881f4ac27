// The library's front door: the class factory and the descriptor table.
#pragma once

#include "plugin/plugin_interface.h"

namespace lanfeed {

// Holds no state; every GetCVClassFactory allocates a new one. Objects it
// creates do not belong to it and may be destroyed through any factory.
class PluginFactory final : public IPluginFactory {
 public:
  int32_t CreateLogger(void** out, void* context) override;
  int32_t CreateFeedback(void** out, void* context) override;
  int32_t CreateInstance(const PluginClassId* id, IInputPlugin** out, void* context) override;
  int32_t DestroyLogger(void* object) override;
  int32_t DestroyFeedback(void* object) override;
  int32_t DestroyInstance(const PluginClassId* id, IInputPlugin* object) override;
  const PluginDescriptor* GetDescriptors() override;
  int32_t GetDescriptorCount() override;
};

// 16-byte raw comparison of class identifiers.
bool SameClassId(const PluginClassId& a, const PluginClassId& b);

}  // namespace lanfeed

extern "C" {
// Exported by these undecorated names (ordinals 1, 2 and 3 on Windows).
lanfeed::IPluginFactory* GetCVClassFactory();
void ReleaseCVClassFactory(lanfeed::IPluginFactory* factory);
// The sender of the record being delivered, for a host's ShowFeedback or
// Deliver on the delivering thread: "127.0.0.1:53211" written into `text`
// with its NUL, and its length. 0 and an empty string on any other thread,
// outside a delivery, or when `capacity` is too small (64 always suffices).
int32_t GetLanFeedDeliveryPeer(char* text, int32_t capacity);
}
