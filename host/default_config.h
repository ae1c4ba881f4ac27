// The plug-in's default configuration as the host keeps and writes it.
#pragma once

#include <string>

#include "host/config_tree.h"
#include "plugin/config/device_settings.h"
#include "plugin/plugin_interface.h"

namespace lanfeed::host {

// Asks `plugin` to write its template into the root of `tree` and makes every
// declared default the element's value, so that the tree reads back as the
// defaults. Returns false when the plug-in refused (non-zero result).
bool BuildDefaultConfiguration(IInputPlugin* plugin, ConfigTree* tree);

// Saves a tree that BuildDefaultConfiguration filled, indented and with a
// short comment for the person editing it, to `path`. On failure returns
// false with `error` set.
bool SaveDefaultConfigFile(ConfigTree* tree, const std::string& path, std::string* error);

// What the plug-in makes of the configuration node `root` (null: disabled):
// the same reading it does in Configure, run here so that the host can say
// what is listening.
DeviceSettings EffectiveSettings(ConfigNode* root);

// What listens, for a person: "TCP port 58627, time-out 60 s", "UDP port 9000",
// "disabled, nothing listens"; with framing e.g. "TCP port 9000, time-out
// 60 s, framing line".
std::string DescribeSettings(const DeviceSettings& settings);

// One line for a person: the plug-in's descriptor, where its configuration
// came from and what listens, e.g.
//   plug-in "LAN Feed" version 1.1 kind 10 (./LanFeedPlugin.so); configuration: defaults; TCP port 58627, time-out 60 s
std::string DescribeStartup(const PluginDescriptor& descriptor, const std::string& pluginPath,
                            const std::string& configSource, const DeviceSettings& settings);

}  // namespace lanfeed::host
