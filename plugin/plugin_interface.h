// The binary interface between the host and LanFeedPlugin: class identifiers,
// the descriptor record, the factory and the plug-in object tables, and the
// exports. Slot order is the interface: do not reorder, add or remove
// virtual functions, and do not add virtual destructors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"
#include "plugin/host_services.h"

namespace lanfeed {

class ConfigNode;

// 16 bytes compared as raw bytes.
struct PluginClassId {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(PluginClassId) == 16);

// LANFEED: L, A, N, then "FEED" and four zero bytes.
inline constexpr PluginClassId kLanFeedClassId = {0x0000004C, 0x0041, 0x004E,
                                                   {'F', 'E', 'E', 'D', 0, 0, 0, 0}};
// The host's logger and feedback classes; this library offers neither.
inline constexpr PluginClassId kLoggerClassId = {0x0000004E, 0x0047, 0x0043,
                                                  {'V', 'L', 'O', 'G', 'G', 'E', 'R', 0}};
inline constexpr PluginClassId kFeedbackClassId = {0x0000004E, 0x0047, 0x0043,
                                                    {'V', 'F', 'E', 'E', 'D', 'B', 'A', 'K'}};

// What the host learns about one class (28 bytes on the 32-bit device).
struct PluginDescriptor {
  PluginClassId ClassId;
  uint32_t Version;
  uint32_t Kind;
  const WChar* DisplayName;
};
static_assert(offsetof(PluginDescriptor, Version) == 16);
static_assert(offsetof(PluginDescriptor, Kind) == 20);
static_assert(offsetof(PluginDescriptor, DisplayName) == 24);
static_assert(sizeof(void*) != 4 || sizeof(PluginDescriptor) == 28);
static_assert(sizeof(void*) != 8 || sizeof(PluginDescriptor) == 32);

// The plug-in object's table of twelve operations.
class IInputPlugin {
 public:
  virtual int32_t Initialize(HostServices* host) = 0;          // 0
  virtual int32_t Uninitialize() = 0;                          // 1
  virtual const WChar* GetDisplayName() = 0;                   // 2
  virtual uint32_t GetVersion() = 0;                           // 3
  virtual uint32_t GetKind() = 0;                              // 4
  virtual int32_t WriteDefaultConfig(ConfigNode* node) = 0;    // 5
  virtual int32_t Configure(ConfigNode* node) = 0;             // 6
  virtual int32_t Reserved7(void* unused) = 0;                 // 7: no operation
  virtual int32_t AddConsumer(ConsumerId consumer) = 0;        // 8
  virtual int32_t RemoveConsumer(ConsumerId consumer) = 0;     // 9
  virtual int32_t Reserved10(void* unused) = 0;                // 10: no operation
  virtual int32_t Reserved11(void* unused) = 0;                // 11: no operation

 protected:
  ~IInputPlugin() = default;
};

// The factory's table of eight operations. `out` receives the created object
// (or null); `context` is the host's and ignored.
class IPluginFactory {
 public:
  virtual int32_t CreateLogger(void** out, void* context) = 0;                                  // 0
  virtual int32_t CreateFeedback(void** out, void* context) = 0;                                // 1
  virtual int32_t CreateInstance(const PluginClassId* id, IInputPlugin** out, void* context) = 0;  // 2
  virtual int32_t DestroyLogger(void* object) = 0;                                               // 3
  virtual int32_t DestroyFeedback(void* object) = 0;                                             // 4
  virtual int32_t DestroyInstance(const PluginClassId* id, IInputPlugin* object) = 0;            // 5
  virtual const PluginDescriptor* GetDescriptors() = 0;                                          // 6
  virtual int32_t GetDescriptorCount() = 0;                                                      // 7

 protected:
  ~IPluginFactory() = default;
};

// Signatures of the exports, for hosts that look them up by name. The third
// is optional to a host: a plug-in without it still serves.
using GetCVClassFactoryFn = IPluginFactory* (*)();
using ReleaseCVClassFactoryFn = void (*)(IPluginFactory*);
using GetLanFeedDeliveryPeerFn = int32_t (*)(char* text, int32_t capacity);

}  // namespace lanfeed
