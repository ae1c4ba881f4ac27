#include "host/plugin_loader.h"

#include <cstring>

namespace lanfeed::host {

PluginLoader::~PluginLoader() { Release(); }

bool PluginLoader::Load(const std::string& path, std::string* error) {
  Release();
  if (!library_.Load(path, error)) return false;
  auto get = reinterpret_cast<GetCVClassFactoryFn>(library_.Find("GetCVClassFactory"));
  release_ = reinterpret_cast<ReleaseCVClassFactoryFn>(library_.Find("ReleaseCVClassFactory"));
  if (get == nullptr || release_ == nullptr) {
    *error = path + " does not export GetCVClassFactory and ReleaseCVClassFactory";
    Release();
    return false;
  }
  deliveryPeer_ = reinterpret_cast<GetLanFeedDeliveryPeerFn>(library_.Find("GetLanFeedDeliveryPeer"));
  factory_ = get();
  if (factory_ == nullptr) {
    *error = "GetCVClassFactory returned no factory";
    Release();
    return false;
  }
  descriptorCount_ = factory_->GetDescriptorCount();
  const PluginDescriptor* table = factory_->GetDescriptors();
  for (int32_t i = 0; table != nullptr && i < descriptorCount_; ++i) {
    if (std::memcmp(&table[i].ClassId, &kLanFeedClassId, sizeof(PluginClassId)) == 0) {
      descriptor_ = &table[i];
    }
  }
  if (descriptor_ == nullptr) {
    *error = "the plug-in's descriptor table does not offer the LANFEED class";
    Release();
    return false;
  }
  factory_->CreateInstance(&kLanFeedClassId, &plugin_, nullptr);
  if (plugin_ == nullptr) {
    *error = "CreateInstance returned no object";
    Release();
    return false;
  }
  return true;
}

void PluginLoader::Release() {
  if (plugin_ != nullptr) {
    factory_->DestroyInstance(&kLanFeedClassId, plugin_);
    plugin_ = nullptr;
  }
  if (factory_ != nullptr) {
    release_(factory_);
    factory_ = nullptr;
  }
  descriptor_ = nullptr;
  descriptorCount_ = 0;
  release_ = nullptr;
  deliveryPeer_ = nullptr;
  library_.Unload();
}

std::vector<std::string> PluginCandidates(const std::string& executablePath, const std::string& fileName) {
  // Joined with the separator of the program's path, so that the names read
  // as the system writes paths (C:\LanFeed\LanFeedPlugin.dll on Windows).
  std::size_t slash = executablePath.find_last_of("/\\");
  if (slash == std::string::npos) return {"./" + fileName, "./../lib/lanfeed/" + fileName};
  std::string folder = executablePath.substr(0, slash);
  const char s = executablePath[slash];
  return {folder + s + fileName, folder + s + ".." + s + "lib" + s + "lanfeed" + s + fileName};
}

}  // namespace lanfeed::host
