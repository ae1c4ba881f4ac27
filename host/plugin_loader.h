// Loads LanFeedPlugin by file name and walks the host's side of the plug-in
// life cycle: factory, descriptor check, object creation and destruction.
#pragma once

#include <string>
#include <vector>

#include "platform/library.h"
#include "plugin/plugin_interface.h"

namespace lanfeed::host {

class PluginLoader {
 public:
  PluginLoader() = default;
  ~PluginLoader();  // destroys the object, releases the factory, unloads
  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  // Loads the library, gets its factory, checks that the descriptor table
  // offers the LANFEED class and creates the object. On failure returns false
  // with `error` set; nothing stays loaded.
  bool Load(const std::string& path, std::string* error);

  IInputPlugin* plugin() const { return plugin_; }
  const PluginDescriptor* descriptor() const { return descriptor_; }
  int32_t descriptorCount() const { return descriptorCount_; }
  // The plug-in's GetLanFeedDeliveryPeer; null when it has none (an older
  // plug-in), which serves all the same.
  GetLanFeedDeliveryPeerFn deliveryPeer() const { return deliveryPeer_; }

  // Destroys the object and releases the factory (idempotent).
  void Release();

 private:
  SharedLibrary library_;
  IPluginFactory* factory_ = nullptr;
  ReleaseCVClassFactoryFn release_ = nullptr;
  GetLanFeedDeliveryPeerFn deliveryPeer_ = nullptr;
  IInputPlugin* plugin_ = nullptr;
  const PluginDescriptor* descriptor_ = nullptr;
  int32_t descriptorCount_ = 0;
};

// Where the host looks for the plug-in `fileName` when it is not given, in
// this order: beside the program at `executablePath`, then in
// ../lib/lanfeed/ from the program's folder (an installed bin/, lib/ layout).
std::vector<std::string> PluginCandidates(const std::string& executablePath, const std::string& fileName);

}  // namespace lanfeed::host
