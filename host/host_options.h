// Command line of lanfeed-host.
#pragma once

#include <string>

#include "host/config_overrides.h"
#include "host/host_output.h"

namespace lanfeed::host {

struct HostOptions {
  std::string configFile;          // --config FILE; empty: the plug-in's defaults
  std::string pluginPath;          // --plugin PATH; empty: found beside the program
  std::string writeDefaultConfig;  // --write-default-config FILE; empty: normal run
  std::string checkConfig;         // --check-config FILE; empty: normal run
  SettingOverrides overrides;      // --tcp PORT, --udp PORT, --timeout SECONDS, --framing RULE
  OutputMode output = OutputMode::kText;  // --output text|jsonl|raw
  bool keepRetrying = false;              // --keep-retrying
  bool help = false;                      // --help or -h
  bool version = false;                   // --version
};

extern const char kHostUsage[];
// The product version, e.g. "1.1.0.2".
extern const char kHostVersion[];

// Parses argv[1..argc). Options take their value as the next argument or
// after "=" (--tcp=9000). Returns false with `error` set for an unknown
// argument, a missing, empty or unusable value, an option given twice, or
// --tcp together with --udp, port 0 (a port nobody would be told), or
// --check-config together with --config or --write-default-config. With
// --write-default-config only --plugin, --tcp, --udp, --timeout and --framing
// have an effect; with --check-config only --tcp, --udp, --timeout and
// --framing.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options, std::string* error);

}  // namespace lanfeed::host
