#include "host/config_overrides.h"

namespace lanfeed::host {

namespace {
pugi::xml_node ChildOrNew(pugi::xml_node parent, const char* name) {
  pugi::xml_node child = parent.child(name);
  return child ? child : parent.append_child(name);
}

void SetValue(pugi::xml_node device, const char* name, const std::optional<int32_t>& value) {
  if (!value) return;
  pugi::xml_node element = ChildOrNew(device, name);
  // The value is the element's whole text: drop any text or CDATA it held.
  for (pugi::xml_node child = element.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) element.remove_child(child);
    child = next;
  }
  element.text().set(*value);
}
}  // namespace

void ApplyOverrides(const SettingOverrides& overrides, ConfigTree* tree) {
  if (overrides.empty()) return;
  pugi::xml_node device = ChildOrNew(tree->root()->element(), "Device");
  SetValue(device, "Protocol", overrides.protocol);
  SetValue(device, "Port", overrides.port);
  SetValue(device, "TCPTimeout", overrides.tcpTimeout);
}

}  // namespace lanfeed::host
