// The host's check of a configuration file: every value the plug-in will not
// use as written. The plug-in reads its configuration tolerantly (a value it
// cannot use silently takes a default); this check says so to a person, by
// the plug-in's own bounds (port 0 to 65535, time-out 0 and up), not by the
// template's min and max attributes.
//
// What is reported:
// - the root: no Device element under it, so every setting is a default
//   ("wrong root" when the root is not Plugin, "missing" otherwise);
// - unknown elements (names are case-sensitive) and repeated ones (only the
//   first is read);
// - values that are empty, not a number (text after or instead of the
//   digits) or out of range, each with what the plug-in uses instead;
// - port 0: the system would pick a port that nobody is told.
// Elements that a command-line setting replaces are not looked at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/config_overrides.h"
#include "host/config_tree.h"

namespace lanfeed::host {

struct ConfigFinding {
  int line = 0;         // of the element in the file, from 1; 0 when unknown
  std::string element;  // its path from the root's child: "Device/Port", "Device/Feedback/OnDispatch/LED/Time"
  std::string value;    // as written (without surrounding blanks); empty for an element finding
  bool hasValue = false;
  std::string why;   // "out of range (0 to 65535)", "not a number", "unknown element", ...
  std::string uses;  // what the plug-in uses instead: "58627", "1 (TCP)"; empty: it ignores the element
};

// The findings for the document of `tree` (parsed from a file; its source()
// gives the line numbers), in document order.
std::vector<ConfigFinding> CheckConfiguration(const ConfigTree& tree, const SettingOverrides& overrides);

// "FILE:LINE: Device/Port \"70000\": out of range (0 to 65535); the plug-in uses 58627",
// "FILE:LINE: Device/Colour \"1\": unknown element; the plug-in ignores it"
std::string FormatFinding(const std::string& file, const ConfigFinding& finding);

}  // namespace lanfeed::host
