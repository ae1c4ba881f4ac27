// Command line of lanfeed-host.
#pragma once

#include <string>

namespace lanfeed::host {

struct HostOptions {
  std::string configFile;          // --config FILE; empty: the plug-in's defaults
  std::string pluginPath;          // --plugin PATH; empty: LanFeedPlugin.so beside the program
  std::string writeDefaultConfig;  // --write-default-config FILE; empty: normal run
  bool help = false;               // --help or -h
};

extern const char kHostUsage[];

// Parses argv[1..argc). Returns false with `error` set for an unknown
// argument, a missing or empty value, or an option given twice.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options, std::string* error);

}  // namespace lanfeed::host
