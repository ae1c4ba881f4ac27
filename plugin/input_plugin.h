// The plug-in object the host drives: consumer list, the one network server,
// and the only way from the servers back to the host (the helpers below,
// reached through CurrentPlugin).
//
// Threading: the twelve operations and the destructor run on the host's
// thread, one at a time. Log, LogCurrent, PlayFeedback, PublishStatus and
// DeliverData run on any server thread, several at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/lock.h"
#include "plugin/consumer_list.h"
#include "plugin/host_services.h"
#include "plugin/plugin_interface.h"

namespace lanfeed {

class SocketServer;
class DeviceSettings;
struct FeedbackParams;

inline constexpr uint32_t kPluginVersion = 0x00010001;
inline constexpr uint32_t kPluginKind = 10;
// The display name, shared by the descriptor and GetDisplayName.
extern const WChar kDisplayName[];

class InputPlugin final : public IInputPlugin {
 public:
  InputPlugin();
  // Uninitializes and deletes a server still held; frees the consumer list;
  // clears CurrentPlugin when it designates this object.
  ~InputPlugin();
  InputPlugin(const InputPlugin&) = delete;
  InputPlugin& operator=(const InputPlugin&) = delete;

  int32_t Initialize(HostServices* host) override;
  int32_t Uninitialize() override;
  const WChar* GetDisplayName() override;
  uint32_t GetVersion() override;
  uint32_t GetKind() override;
  int32_t WriteDefaultConfig(ConfigNode* node) override;
  int32_t Configure(ConfigNode* node) override;
  int32_t Reserved7(void* unused) override;
  int32_t AddConsumer(ConsumerId consumer) override;
  int32_t RemoveConsumer(ConsumerId consumer) override;
  int32_t Reserved10(void* unused) override;
  int32_t Reserved11(void* unused) override;

  // Writes a log line when host services are present and `text` is not null.
  void Log(LogLevel level, const WChar* text);
  // Asks the host to play `feedback` (not null) when host services are present.
  void PlayFeedback(const FeedbackParams* feedback);
  // Publishes 1 while the current server is Listening, else 0.
  void PublishStatus();
  // Hands the bytes to every consumer in registration order, under the lock.
  // Allocates nothing; the record and the bytes are valid during each call.
  void DeliverData(const uint8_t* data, uint32_t count);

  // Reads the stored configuration node and brings the server in line.
  void ApplyConfiguration();
  // Keeps, replaces, creates or removes the server for `settings`.
  void ApplySettings(const DeviceSettings& settings);

  SocketServer* server() const { return server_.load(); }
  // Replaces the server without touching the old one. For tests and ApplySettings.
  void SetServer(SocketServer* server) { server_.store(server); }
  std::size_t ConsumerCount() const { return consumerCount_.load(); }

 private:
  void RemoveServer();

  std::atomic<HostServices*> host_{nullptr};
  // Guards consumers_. Lives as long as the object, so a straggling server
  // thread can never take a lock that has been deleted.
  RecursiveLock lock_;
  ConsumerList consumers_;
  std::atomic<std::size_t> consumerCount_{0};
  std::atomic<SocketServer*> server_{nullptr};
  ConfigNode* configNode_ = nullptr;
};

// The plug-in object that servers report to: set by every Initialize,
// cleared when that object is destroyed.
extern std::atomic<InputPlugin*> CurrentPlugin;

// Log through CurrentPlugin; the line is dropped when there is none.
void LogCurrent(LogLevel level, const WChar* text);

}  // namespace lanfeed
