#include "plugin/servers/socket_server.h"

namespace lanfeed {

SocketServer::~SocketServer() = default;

void SocketServer::AssignSettings(const DeviceSettings& source) {
  AutoLock guard(settingsLock);
  settings = source;
}

int32_t SocketServer::SettingsProtocol() const {
  AutoLock guard(settingsLock);
  return settings.Protocol;
}

int32_t SocketServer::SettingsPort() const {
  AutoLock guard(settingsLock);
  return settings.Port;
}

int32_t SocketServer::SettingsTcpTimeout() const {
  AutoLock guard(settingsLock);
  return settings.TCPTimeout;
}

}  // namespace lanfeed

namespace lanfeed {

// Replaced once the TCP and UDP servers exist.
SocketServer* CreateSocketServer(int32_t protocol) {
  (void)protocol;
  return nullptr;
}

}  // namespace lanfeed
