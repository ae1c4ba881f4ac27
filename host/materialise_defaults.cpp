#include "host/materialise_defaults.h"

namespace lanfeed::host {

namespace {
bool HasElementOrText(pugi::xml_node element) {
  for (pugi::xml_node child : element.children()) {
    pugi::xml_node_type type = child.type();
    if (type == pugi::node_element || type == pugi::node_pcdata || type == pugi::node_cdata) return true;
  }
  return false;
}
}  // namespace

int MaterialiseDefaults(pugi::xml_node element) {
  if (element.type() != pugi::node_element) return 0;
  int written = 0;
  pugi::xml_attribute declared = element.attribute("default");
  if (declared && !HasElementOrText(element)) {
    element.text().set(declared.value());
    ++written;
  }
  for (pugi::xml_node child : element.children()) written += MaterialiseDefaults(child);
  return written;
}

}  // namespace lanfeed::host
