#include "host/host_options.h"

#include <cstring>

namespace lanfeed::host {

const char kHostUsage[] =
    "usage: lanfeed-host [--config FILE] [--plugin PATH] [--write-default-config FILE]\n"
    "  --config FILE                the plug-in's configuration (XML); default: its defaults\n"
    "  --plugin PATH                the plug-in library; default: LanFeedPlugin.so beside the program\n"
    "  --write-default-config FILE  write the plug-in's default configuration to FILE and exit\n"
    "Runs the plug-in with one consumer and prints every delivery, feedback request, log line\n"
    "and status change; SIGINT or SIGTERM stops it.\n";

bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options, std::string* error) {
  struct ValueOption {
    const char* name;
    std::string HostOptions::*field;
  };
  static const ValueOption kValueOptions[] = {
      {"--config", &HostOptions::configFile},
      {"--plugin", &HostOptions::pluginPath},
      {"--write-default-config", &HostOptions::writeDefaultConfig},
  };
  *options = HostOptions{};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options->help = true;
      continue;
    }
    const ValueOption* matched = nullptr;
    for (const ValueOption& option : kValueOptions) {
      if (std::strcmp(arg, option.name) == 0) matched = &option;
    }
    if (matched == nullptr) {
      *error = std::string("unknown argument '") + arg + "'";
      return false;
    }
    if (i + 1 >= argc || argv[i + 1][0] == 0) {
      *error = std::string(matched->name) + " needs a value";
      return false;
    }
    std::string& field = options->*(matched->field);
    if (!field.empty()) {
      *error = std::string(matched->name) + " given twice";
      return false;
    }
    field = argv[++i];
  }
  return true;
}

}  // namespace lanfeed::host
