#include "plugin/factory.h"

#include <cstring>
#include <new>

#include "plugin/input_plugin.h"
#include "plugin/servers/delivery_peer.h"

namespace lanfeed {

bool SameClassId(const PluginClassId& a, const PluginClassId& b) {
  return std::memcmp(&a, &b, sizeof(PluginClassId)) == 0;
}

namespace {

// Filled on first use and then kept unchanged for the life of the library.
// Concurrent first calls write the same values.
PluginDescriptor g_descriptors[2];

const PluginDescriptor* DescriptorTable() {
  if (g_descriptors[0].DisplayName == nullptr) {
    g_descriptors[0] = PluginDescriptor{kLanFeedClassId, kPluginVersion, kPluginKind, kDisplayName};
    g_descriptors[1] = PluginDescriptor{};
  }
  return g_descriptors;
}

int32_t Create(const PluginClassId& requested, void** out) {
  if (out == nullptr) return 0;
  *out = nullptr;
  if (!SameClassId(requested, kLanFeedClassId)) return 0;
  // Null when memory runs out: nothing the object's construction does can
  // fail otherwise.
  *out = static_cast<IInputPlugin*>(new (std::nothrow) InputPlugin());
  return 0;
}

int32_t Destroy(const PluginClassId& requested, IInputPlugin* object) {
  if (!SameClassId(requested, kLanFeedClassId) || object == nullptr) return 0;
  delete static_cast<InputPlugin*>(object);
  return 0;
}

}  // namespace

int32_t PluginFactory::CreateLogger(void** out, void*) { return Create(kLoggerClassId, out); }

int32_t PluginFactory::CreateFeedback(void** out, void*) { return Create(kFeedbackClassId, out); }

int32_t PluginFactory::CreateInstance(const PluginClassId* id, IInputPlugin** out, void*) {
  if (out == nullptr) return 0;
  *out = nullptr;
  if (id == nullptr) return 0;
  void* object = nullptr;
  Create(*id, &object);
  *out = static_cast<IInputPlugin*>(object);
  return 0;
}

int32_t PluginFactory::DestroyLogger(void* object) {
  return Destroy(kLoggerClassId, static_cast<IInputPlugin*>(object));
}

int32_t PluginFactory::DestroyFeedback(void* object) {
  return Destroy(kFeedbackClassId, static_cast<IInputPlugin*>(object));
}

int32_t PluginFactory::DestroyInstance(const PluginClassId* id, IInputPlugin* object) {
  if (id == nullptr) return 0;
  return Destroy(*id, object);
}

const PluginDescriptor* PluginFactory::GetDescriptors() { return DescriptorTable(); }

int32_t PluginFactory::GetDescriptorCount() {
  static constexpr PluginClassId kEnd{};
  int32_t count = 0;
  for (const PluginDescriptor* d = DescriptorTable(); !SameClassId(d->ClassId, kEnd); ++d) ++count;
  return count;
}

}  // namespace lanfeed

extern "C" lanfeed::IPluginFactory* GetCVClassFactory() {
  return new (std::nothrow) lanfeed::PluginFactory();
}

extern "C" void ReleaseCVClassFactory(lanfeed::IPluginFactory* factory) {
  delete static_cast<lanfeed::PluginFactory*>(factory);
}

extern "C" int32_t GetLanFeedDeliveryPeer(char* text, int32_t capacity) {
  return lanfeed::CopyDeliveryPeer(text, capacity);
}
