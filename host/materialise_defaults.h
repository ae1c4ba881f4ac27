// Turns the plug-in's configuration template into a configuration file a
// person can edit: every declared default becomes the element's value.
#pragma once

#include <pugixml.hpp>

namespace lanfeed::host {

// For every element below `element` (itself included) that declares a
// `default` attribute, has no child elements and no text of its own, the
// default becomes its text. The template's attributes (type, min, max,
// default) stay as documentation. Returns the number of values written.
int MaterialiseDefaults(pugi::xml_node element);

}  // namespace lanfeed::host
