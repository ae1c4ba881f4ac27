#include "plugin/input_plugin.h"

#include "plugin/config/config_template.h"
#include "plugin/config/feedback_params.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

const WChar kDisplayName[] = LF_TEXT("LAN Feed");

std::atomic<InputPlugin*> CurrentPlugin{nullptr};

void LogCurrent(LogLevel level, const WChar* text) {
  InputPlugin* plugin = CurrentPlugin.load();
  if (plugin != nullptr) plugin->Log(level, text);
}

InputPlugin::InputPlugin() = default;

InputPlugin::~InputPlugin() {
  RemoveServer();
  InputPlugin* self = this;
  CurrentPlugin.compare_exchange_strong(self, nullptr);
}

int32_t InputPlugin::Initialize(HostServices* host) {
  CurrentPlugin.store(this);
  host_.store(host);
  return 0;
}

int32_t InputPlugin::Uninitialize() {
  RemoveServer();
  return 0;
}

void InputPlugin::RemoveServer() {
  SocketServer* server = server_.load();
  if (server == nullptr) return;
  server->Uninitialize();
  server_.store(nullptr);
  delete server;
}

const WChar* InputPlugin::GetDisplayName() { return kDisplayName; }
uint32_t InputPlugin::GetVersion() { return kPluginVersion; }
uint32_t InputPlugin::GetKind() { return kPluginKind; }

int32_t InputPlugin::WriteDefaultConfig(ConfigNode* node) { return lanfeed::WriteDefaultConfig(node); }

int32_t InputPlugin::Configure(ConfigNode* node) {
  configNode_ = node;
  ApplyConfiguration();
  return 0;
}

int32_t InputPlugin::Reserved7(void*) { return 0; }
int32_t InputPlugin::Reserved10(void*) { return 0; }
int32_t InputPlugin::Reserved11(void*) { return 0; }

int32_t InputPlugin::AddConsumer(ConsumerId consumer) {
  std::size_t count;
  {
    AutoLock guard(lock_);
    // No room for the entry: the consumer is not added and nothing starts.
    if (!consumers_.Add(consumer)) return 0;
    count = consumers_.Size();
    consumerCount_.store(count);
  }
  if (count == 1) {
    SocketServer* server = server_.load();
    if (server == nullptr) {
      PublishStatus();
    } else if (server->IsSocketOpen()) {
      server->Start();
    } else if (server->Initialize() != 0) {
      server->Start();
    }
  }
  return 0;
}

int32_t InputPlugin::RemoveConsumer(ConsumerId consumer) {
  if (consumerCount_.load() <= 1) {
    SocketServer* server = server_.load();
    if (server != nullptr) server->Suspend();
    else PublishStatus();
  }
  AutoLock guard(lock_);
  consumers_.RemoveAll(consumer);
  consumerCount_.store(consumers_.Size());
  return 0;
}

void InputPlugin::Log(LogLevel level, const WChar* text) {
  HostServices* host = host_.load();
  if (host != nullptr && text != nullptr) host->WriteLog(level, text);
}

void InputPlugin::PlayFeedback(const FeedbackParams* feedback) {
  HostServices* host = host_.load();
  if (host != nullptr && feedback != nullptr) host->ShowFeedback(feedback);
}

void InputPlugin::PublishStatus() {
  HostServices* host = host_.load();
  if (host == nullptr) return;
  SocketServer* server = server_.load();
  int32_t status = (server != nullptr && server->State() == kServerListening) ? 1 : 0;
  host->SetStatusProperty(kListeningStatusProperty, sizeof(status), &status);
}

void InputPlugin::DeliverData(const uint8_t* data, uint32_t count) {
  if (data == nullptr || count == 0 || consumerCount_.load() == 0) return;
  AutoLock guard(lock_);
  HostServices* host = host_.load();
  if (host == nullptr) return;
  InputDataRecord record{255, {0, 4, 0, 0, 0}, count, data};
  for (ConsumerId consumer : consumers_) {
    record.Consumer = consumer;
    host->Deliver(&record);
  }
}

}  // namespace lanfeed
