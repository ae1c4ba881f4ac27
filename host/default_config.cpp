#include "host/default_config.h"

#include <cstdio>

#include "host/materialise_defaults.h"
#include "platform/text.h"

namespace lanfeed::host {

namespace {
const char kEditorNote[] =
    "\n  LAN Feed configuration. Each element's text is its value; type, min, max and default describe it.\n"
    "  Device/Enabled 0 switches the input off. Protocol: 1 TCP, 0 UDP. TCPTimeout in seconds, 0: none.\n"
    "  OnDispatch may also hold: LED (Enabled, Time, LEDColor), Vibrator (Enabled, Time),\n"
    "  WaveFile (Enabled, File).\n";
}  // namespace

bool BuildDefaultConfiguration(IInputPlugin* plugin, ConfigTree* tree) {
  if (plugin->WriteDefaultConfig(tree->root()) != 0) return false;
  MaterialiseDefaults(tree->root()->element());
  return true;
}

bool SaveDefaultConfigFile(ConfigTree* tree, const std::string& path, std::string* error) {
  tree->document().prepend_child(pugi::node_comment).set_value(kEditorNote);
  bool saved = tree->SaveFile(path);
  if (!saved) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

DeviceSettings EffectiveSettings(ConfigNode* root) {
  DeviceSettings settings;
  if (root == nullptr) {
    settings.Enabled = 0;
  } else if (root->GetChildCount() > 0) {
    ConfigNode* cursor = root->CreateCursor();
    if (root->FindChild(cursor, "Device") != 0) settings.ReadDevice(cursor);
    root->ReleaseCursor(cursor);
  }
  return settings;
}

namespace {
// Where the server listens and who may send, when the settings say so:
// ", address 127.0.0.1, allowed 127.0.0.2/32, at most 3 clients".
std::string DescribePeerRules(const DeviceSettings& settings) {
  std::string text;
  char address[kNetAddressTextCapacity];
  if (settings.BindAddress.family != kNetNone) {
    NetAddressToText(settings.BindAddress, address);
    text += std::string(", address ") + address;
  }
  for (int32_t i = 0; i < settings.AllowedPeerCount; ++i) {
    NetAddressToText(settings.AllowedPeers[i].address, address);
    text += (i == 0 ? ", allowed " : " ") + std::string(address) + "/" + std::to_string(settings.AllowedPeers[i].bits);
  }
  if (settings.Protocol != kProtocolUdp && settings.MaxClients > 0) {
    text += ", at most " + std::to_string(settings.MaxClients) + " clients";
  }
  if (settings.Protocol != kProtocolUdp && settings.MaxClientsPerPeer > 0) {
    text += ", at most " + std::to_string(settings.MaxClientsPerPeer) + " clients per address";
  }
  return text;
}
}  // namespace

std::string DescribeSettings(const DeviceSettings& settings) {
  if (settings.Enabled == 0) return "disabled, nothing listens";
  if (settings.Protocol == kProtocolUdp) return "UDP port " + std::to_string(settings.Port) + DescribePeerRules(settings);
  std::string text = "TCP port " + std::to_string(settings.Port) + ", time-out " +
                     (settings.TCPTimeout == 0 ? std::string("none") : std::to_string(settings.TCPTimeout) + " s");
  switch (settings.Framing) {
    case kFramingLine: text += ", framing line"; break;
    case kFramingDelimiter: {
      text += ", framing delimiter ";
      char hex[3];
      for (int32_t i = 0; i < settings.FrameDelimiterLength; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", settings.FrameDelimiter[i]);
        text += hex;
      }
      break;
    }
    case kFramingFixed: text += ", framing fixed " + std::to_string(settings.FrameLength) + " bytes"; break;
    default: break;
  }
  return text + DescribePeerRules(settings);
}

std::string DescribeStartup(const PluginDescriptor& descriptor, const std::string& pluginPath,
                            const std::string& configSource, const DeviceSettings& settings) {
  return "plug-in \"" + (descriptor.DisplayName != nullptr ? ToUtf8(descriptor.DisplayName) : "") + "\" version " +
         std::to_string(descriptor.Version >> 16) + "." + std::to_string(descriptor.Version & 0xFFFF) + " kind " +
         std::to_string(descriptor.Kind) + " (" + pluginPath + "); configuration: " + configSource + "; " +
         DescribeSettings(settings);
}

}  // namespace lanfeed::host
