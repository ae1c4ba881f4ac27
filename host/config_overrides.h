// Settings given on the command line (--tcp, --udp, --timeout, --framing, --bind, --allow,
// --max-clients, --max-clients-per-peer) that replace
// those of the configuration, written into the configuration tree so that
// the plug-in reads them the way it reads every setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/config_tree.h"

namespace lanfeed::host {

struct SettingOverrides {
  std::optional<int32_t> protocol = std::nullopt;    // Device/Protocol: 1 TCP, 0 UDP
  std::optional<int32_t> port = std::nullopt;        // Device/Port, 0 to 65535
  std::optional<int32_t> tcpTimeout = std::nullopt;  // Device/TCPTimeout in seconds, 0: none
  std::optional<std::string> framing = std::nullopt;         // Device/Framing: none, line, delimiter, fixed
  std::optional<std::string> frameDelimiter = std::nullopt;  // Device/FrameDelimiter, hex digits
  std::optional<int32_t> frameLength = std::nullopt;         // Device/FrameLength in bytes
  std::optional<std::string> bindAddress = std::nullopt;     // Device/BindAddress
  std::optional<std::string> allowedPeers = std::nullopt;    // Device/AllowedPeers
  std::optional<int32_t> maxClients = std::nullopt;          // Device/MaxClients
  std::optional<int32_t> maxClientsPerPeer = std::nullopt;   // Device/MaxClientsPerPeer

  bool empty() const {
    return !protocol && !port && !tcpTimeout && !framing && !frameDelimiter && !frameLength && !bindAddress &&
           !allowedPeers && !maxClients && !maxClientsPerPeer;
  }
};

// Sets the value of each overridden element of the root's Device element,
// creating Device and the element where they are missing. Nothing else of
// the tree changes.
void ApplyOverrides(const SettingOverrides& overrides, ConfigTree* tree);

}  // namespace lanfeed::host
