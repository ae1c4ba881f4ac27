#include "host/config_overrides.h"

#include <type_traits>

namespace lanfeed::host {

namespace {
pugi::xml_node ChildOrNew(pugi::xml_node parent, const char* name) {
  pugi::xml_node child = parent.child(name);
  return child ? child : parent.append_child(name);
}

template <typename Value>
void SetValue(pugi::xml_node device, const char* name, const std::optional<Value>& value) {
  if (!value) return;
  pugi::xml_node element = ChildOrNew(device, name);
  // The value is the element's whole text: drop any text or CDATA it held.
  for (pugi::xml_node child = element.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) element.remove_child(child);
    child = next;
  }
  if constexpr (std::is_same_v<Value, std::string>) {
    element.text().set(value->c_str());
  } else {
    element.text().set(*value);
  }
}
}  // namespace

void ApplyOverrides(const SettingOverrides& overrides, ConfigTree* tree) {
  if (overrides.empty()) return;
  pugi::xml_node device = ChildOrNew(tree->root()->element(), "Device");
  SetValue(device, "Protocol", overrides.protocol);
  SetValue(device, "Port", overrides.port);
  SetValue(device, "TCPTimeout", overrides.tcpTimeout);
  SetValue(device, "Framing", overrides.framing);
  SetValue(device, "FrameDelimiter", overrides.frameDelimiter);
  SetValue(device, "FrameLength", overrides.frameLength);
  SetValue(device, "BindAddress", overrides.bindAddress);
  SetValue(device, "AllowedPeers", overrides.allowedPeers);
  SetValue(device, "MaxClients", overrides.maxClients);
  SetValue(device, "MaxClientsPerPeer", overrides.maxClientsPerPeer);
}

}  // namespace lanfeed::host
