#include "plugin/config/device_settings.h"

#include <cstring>
#include <new>

#include "plugin/config/config_node.h"

namespace lanfeed {

void FreeWaveFilePath(FeedbackParams* feedback) {
  delete[] feedback->WaveFilePath;
  feedback->WaveFilePath = nullptr;
}

DeviceSettings::DeviceSettings()
    : Enabled(1), Protocol(kProtocolTcp), Reserved(0), Port(kDefaultPort),
      TCPTimeout(kDefaultTcpTimeout), Feedback{} {}

DeviceSettings::~DeviceSettings() { FreeWaveFilePath(&Feedback); }

DeviceSettings::DeviceSettings(const DeviceSettings& other) : DeviceSettings() { *this = other; }

DeviceSettings& DeviceSettings::operator=(const DeviceSettings& other) {
  if (this == &other) return *this;
  Enabled = other.Enabled;
  Protocol = other.Protocol;
  Reserved = other.Reserved;
  Port = other.Port;
  TCPTimeout = other.TCPTimeout;
  FreeWaveFilePath(&Feedback);
  Feedback = other.Feedback;
  Feedback.WaveFilePath = nullptr;
  if (other.Feedback.WaveFilePath != nullptr) {
    std::size_t length = WStrLen(other.Feedback.WaveFilePath);
    // A path that cannot be allocated is left out: the record then holds no
    // path rather than a shared or dangling one.
    WChar* copy = new (std::nothrow) WChar[length + 1];
    if (copy != nullptr) {
      std::memcpy(copy, other.Feedback.WaveFilePath, (length + 1) * sizeof(WChar));
      Feedback.WaveFilePath = copy;
    }
  }
  return *this;
}

void DeviceSettings::ResetFeedback() {
  FreeWaveFilePath(&Feedback);
  Feedback = FeedbackParams{};
  Feedback.Flags = kFeedbackBeeper;
  Feedback.BeeperTime = 300;
  Feedback.BeeperFreq = 3000;
  Feedback.BeeperVolume = 0;
}

// Reading the configuration tree: ReadDevice, ReadFeedback, ReadOnDispatch.
void DeviceSettings::ReadDevice(ConfigNode* node) {
  Port = kDefaultPort;
  Protocol = kProtocolTcp;
  TCPTimeout = kDefaultTcpTimeout;
  ResetFeedback();
  (void)node;  // TODO(config): read the Device element
}

void DeviceSettings::ReadFeedback(ConfigNode* node) {
  ResetFeedback();
  (void)node;  // TODO(config): read OnDispatch
}

void DeviceSettings::ReadOnDispatch(ConfigNode* node, FeedbackParams* feedback) {
  (void)node;
  (void)feedback;  // TODO(config)
}

}  // namespace lanfeed
