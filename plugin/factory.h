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
// Exported by these undecorated names (ordinals 1 and 2 on Windows).
lanfeed::IPluginFactory* GetCVClassFactory();
void ReleaseCVClassFactory(lanfeed::IPluginFactory* factory);
}
