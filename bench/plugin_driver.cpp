#include "bench/plugin_driver.h"

#include <cstring>

namespace bench {

namespace {

constexpr lanfeed::ConsumerId kConsumer = 1;

std::string Narrow(const lanfeed::WChar* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// PluginLibrary

PluginLibrary::~PluginLibrary() {
  if (factory_ != nullptr) release_(factory_);
  factory_ = nullptr;
  library_.Unload();
}

bool PluginLibrary::Load(const std::string& path, std::string* error) {
  if (!library_.Load(path, error)) return false;
  auto get = reinterpret_cast<lanfeed::GetCVClassFactoryFn>(library_.Find("GetCVClassFactory"));
  release_ = reinterpret_cast<lanfeed::ReleaseCVClassFactoryFn>(library_.Find("ReleaseCVClassFactory"));
  if (get == nullptr || release_ == nullptr) {
    *error = path + " does not export GetCVClassFactory and ReleaseCVClassFactory";
    return false;
  }
  factory_ = get();
  if (factory_ == nullptr) {
    *error = "GetCVClassFactory returned no factory";
    return false;
  }
  const lanfeed::PluginDescriptor* table = factory_->GetDescriptors();
  const int32_t count = factory_->GetDescriptorCount();
  for (int32_t i = 0; table != nullptr && i < count; ++i) {
    if (std::memcmp(&table[i].ClassId, &lanfeed::kLanFeedClassId, sizeof(lanfeed::PluginClassId)) == 0 &&
        Narrow(table[i].DisplayName) == "LAN Feed") {
      return true;
    }
  }
  *error = "the descriptor table does not offer the LANFEED class as \"LAN Feed\"";
  return false;
}

// ---------------------------------------------------------------------------
// BenchHost

int32_t BenchHost::Deliver(const lanfeed::InputDataRecord* record) {
  sink_->Block(record->Data, record->DataLength);
  return 0;
}

int32_t BenchHost::ShowFeedback(const lanfeed::FeedbackParams*) {
  feedbacks_.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

int32_t BenchHost::WriteLog(int32_t, const lanfeed::WChar*) {
  logLines_.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

int32_t BenchHost::SetStatusProperty(int32_t property, int32_t size, const void* value) {
  if (property == lanfeed::kListeningStatusProperty && size == 4 && value != nullptr) {
    int32_t status;
    std::memcpy(&status, value, sizeof status);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listening_ = status;
    }
    statusChanged_.notify_all();
  }
  return 0;
}

bool BenchHost::WaitListening(int32_t status, double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return statusChanged_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return listening_ == status; });
}

// ---------------------------------------------------------------------------
// PluginServer

PluginServer::PluginServer(PluginLibrary* library, BlockSink* sink) : library_(library), host_(sink) {}

PluginServer::~PluginServer() { Stop(); }

bool PluginServer::Start(bool udp, uint16_t port, int tcpTimeoutSeconds, std::string* error,
                         const std::string& framing) {
  library_->factory()->CreateInstance(&lanfeed::kLanFeedClassId, &plugin_, nullptr);
  if (plugin_ == nullptr) {
    *error = "CreateInstance returned no object";
    return false;
  }
  plugin_->Initialize(&host_);
  initialized_ = true;
  config_ = DeviceConfiguration(udp, port, tcpTimeoutSeconds, framing);
  MemoryConfigNode root(config_.get());
  plugin_->Configure(&root);
  if (root.openCursors() != 0) {
    *error = "Configure left " + std::to_string(root.openCursors()) + " cursors unreleased";
    return false;
  }
  plugin_->AddConsumer(kConsumer);
  consumer_ = true;
  if (!host_.WaitListening(1, 20)) {
    *error = "the plug-in did not listen on port " + std::to_string(port) + " within 20 s";
    return false;
  }
  return true;
}

void PluginServer::RemoveConsumer() {
  if (plugin_ != nullptr && consumer_) plugin_->RemoveConsumer(kConsumer);
  consumer_ = false;
}

void PluginServer::Uninitialize() {
  if (plugin_ != nullptr && initialized_) plugin_->Uninitialize();
  initialized_ = false;
}

void PluginServer::Destroy() {
  if (plugin_ != nullptr) library_->factory()->DestroyInstance(&lanfeed::kLanFeedClassId, plugin_);
  plugin_ = nullptr;
}

void PluginServer::Stop() {
  RemoveConsumer();
  Uninitialize();
  Destroy();
}

}  // namespace bench
