// Configure's apply step: bring the one server in line with the settings.
#include "plugin/config/config_node.h"
#include "plugin/config/device_settings.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

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
  SocketServer* server = server_.load();
  if (server != nullptr &&
      (settings.Enabled == 0 || settings.Protocol != server->SettingsProtocol() ||
       settings.Port != server->SettingsPort())) {
    RemoveServer();
    server = nullptr;
  }
  if (settings.Enabled == 0) return;
  if (server == nullptr) {
    server = CreateSocketServer(settings.Protocol);
    if (server == nullptr) return;
    server_.store(server);
  }
  server->AssignSettings(settings);
}

}  // namespace lanfeed
