// The default configuration the plug-in hands the host: its identity
// attributes and one Device element declaring every setting.
#pragma once

#include <cstdint>

namespace lanfeed {

class ConfigNode;

// Nineteen XML fragments that, joined in order, form the Device element;
// a null entry ends the array.
extern const char* const ConfigTemplate[20];

// Fills `node` with the default configuration. Returns 1 for a null node
// (nothing is called), 0 after writing.
int32_t WriteDefaultConfig(ConfigNode* node);

}  // namespace lanfeed
