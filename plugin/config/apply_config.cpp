// Configure's apply step: bring the one server in line with the settings.
#include <cstring>

#include "plugin/config/config_node.h"
#include "plugin/config/device_settings.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

namespace {
// The server serves the address the settings name: a new one moves it
// like a new port.
bool SameBindAddress(const DeviceSettings& settings, const SocketServer& server) {
  const NetAddress& wanted = settings.BindAddress;
  const NetAddress served = server.PinSettings()->BindAddress;
  return wanted.family == served.family && std::memcmp(wanted.bytes, served.bytes, sizeof wanted.bytes) == 0;
}
}  // namespace

void InputPlugin::ApplyConfiguration() {
  DeviceSettings settings;
  ConfigNode* node = configNode_;
  if (node == nullptr) {
    settings.Enabled = 0;
  } else if (node->GetChildCount() > 0) {
    ConfigNode* cursor = node->CreateCursor();
    if (node->FindChild(cursor, "Device") != 0) settings.ReadDevice(cursor);
    node->ReleaseCursor(cursor);
  }
  ApplySettings(settings);
}

void InputPlugin::ApplySettings(const DeviceSettings& settings) {
  SocketServer* current = server_.load();
  if (settings.Enabled == 0) {
    RemoveServer();
    return;
  }
  if (current != nullptr && settings.Protocol == current->SettingsProtocol() &&
      settings.Port == current->SettingsPort() && SameBindAddress(settings, *current)) {
    // Kept: only its copy is replaced (or, when the copy cannot be
    // allocated, kept as it was).
    current->AssignSettings(settings);
    return;
  }
  // A new server, complete with its settings, before the current one goes:
  // when either cannot be allocated, the current server stays as it was.
  // The new one is idle, so making it first is not observable otherwise.
  SocketServer* fresh = CreateSocketServer(settings.Protocol);
  if (fresh == nullptr) return;
  if (!fresh->AssignSettings(settings)) {
    delete fresh;
    return;
  }
  RemoveServer();
  server_.store(fresh);
}

}  // namespace lanfeed
