#include "host/host_options.h"

#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "lanfeed_version.h"
#include "plugin/config/device_settings.h"
#include "plugin/config/net_address.h"

namespace lanfeed::host {

const char kHostVersion[] = LANFEED_VERSION_STRING;

const char kHostUsage[] =
    "usage: lanfeed-host [--config FILE] [--tcp PORT | --udp PORT] [--timeout SECONDS]\n"
    "                    [--framing none|line|delimiter:HEX|fixed:N]\n"
    "                    [--bind ADDR] [--allow LIST] [--max-clients N] [--max-clients-per-peer N]\n"
    "                    [--output text|jsonl|raw] [--keep-retrying] [--plugin PATH]\n"
    "       lanfeed-host --check-config FILE [--tcp PORT | --udp PORT] [--timeout SECONDS]\n"
    "       lanfeed-host --write-default-config FILE\n"
    "       lanfeed-host --version | --help\n"
    "Runs LanFeedPlugin with one consumer and writes out what it hands over.\n"
    "  --config FILE       the plug-in's configuration (XML); default: the plug-in's defaults\n"
    "  --tcp PORT          serve TCP on PORT (1-65535), replacing the configuration's protocol and port\n"
    "  --udp PORT          serve UDP on PORT\n"
    "  --timeout SECONDS   TCP inactivity time-out; 0: none\n"
    "  --framing RULE      where a TCP record ends: none (each receive, the default), line (after LF),\n"
    "                      delimiter:HEX (after 1 to 8 bytes, e.g. 03 or 0D0A), fixed:N (every N bytes,\n"
    "                      1 to 8192)\n"
    "  --bind ADDR         serve only the local address ADDR: IPv4 (127.0.0.1) or IPv6 (::1; :: for\n"
    "                      every IPv6 address, and IPv4 too where the system is dual-stack);\n"
    "                      default: every local IPv4 address\n"
    "  --allow LIST        take data only from these senders: addresses and prefixes separated by\n"
    "                      commas or spaces (192.168.10.0/24,10.1.2.3,fd00::/8); others are refused\n"
    "                      (a TCP connection closed at once, a UDP datagram dropped); default: everyone\n"
    "  --max-clients N     at most N TCP clients at once (1 to 100000); more are closed at once\n"
    "  --max-clients-per-peer N\n"
    "                      at most N TCP clients at once from one address (1 to 100000)\n"
    "  --output MODE       text: lines for people (default)\n"
    "                      jsonl: one JSON object per line for every event; a delivery always\n"
    "                      carries data_base64, and data as well when it is valid UTF-8\n"
    "                      raw: the received bytes on stdout, nothing else; events on stderr\n"
    "  --keep-retrying     when the socket cannot be opened (port taken), retry every 5 s\n"
    "                      instead of exiting\n"
    "  --plugin PATH       the plug-in library; default: beside the program, or in ../lib/lanfeed/\n"
    "  --check-config FILE list every value of FILE that the plug-in will not use as written\n"
    "                      (out of range, not a number, unknown element, wrong root, port 0) and\n"
    "                      what it uses instead; exit 0 when there is nothing to say, else 1.\n"
    "                      A run with --config warns about the same on stderr, at the start\n"
    "                      and at every reload\n"
    "  --write-default-config FILE\n"
    "                      write the plug-in's default configuration (with --tcp, --udp,\n"
    "                      --timeout, --framing applied) to FILE and exit\n"
    "Text output: one line per event, after the local time (2024-05-01 09:30:00.123):\n"
    "  deliver consumer=C length=N peer=ADDR:PORT data=\"...\"   a block handed to consumer C, from\n"
    "                      the sender ADDR:PORT (where the plug-in tells it): printable text as\n"
    "                      it is; \\n \\r \\t \\\\ \\\" and \\xHH for other control bytes and\n"
    "                      invalid UTF-8; cut after 200 bytes\n"
    "  feedback flags=0xF beeper=on ...        the feedback asked for before each block; flags:\n"
    "                      1 beeper, 2 LED, 4 wave file, 8 vibrator\n"
    "  log L TEXT          a line of the plug-in's log; level L: 1 error, 3 information\n"
    "  last line repeated N times   N more copies of the log line above (after 10 in a second\n"
    "                      the copies are summed up once a second)\n"
    "  status property=2 size=4 value=V (listening)   the plug-in's listening status:\n"
    "                      1 listening, 0 not\n"
    "Ctrl-C or SIGTERM stops the host (on Windows: Ctrl-C, Ctrl-Break or closing the console).\n"
    "SIGHUP re-reads the --config file; Windows has no counterpart: restart the host there.\n"
    "At every stop one summary line goes to stderr: blocks and bytes delivered, feedback\n"
    "requests and error lines (log level 1). Error lines that the plug-in writes while the host\n"
    "stops it, or moves its server on a reload, are the host's own doing: they are not counted\n"
    "(the summary gives their number apart).\n"
    "Exit codes: 0 stopped cleanly, 1 configuration, plug-in, socket or output failed, 2 usage.\n";

namespace {

// Decimal digits only, at most `max`.
std::optional<int32_t> ParseNumber(std::string_view text, int32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return static_cast<int32_t>(value);
}

// --framing's rule into the three settings; false when it is not one.
bool ParseFraming(const std::string& value, SettingOverrides* overrides) {
  if (value == "none" || value == "line") {
    overrides->framing = value;
    return true;
  }
  const std::string delimiter = "delimiter:";
  if (value.rfind(delimiter, 0) == 0) {
    const std::string hex = value.substr(delimiter.size());
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 16 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return false;
    }
    overrides->framing = "delimiter";
    overrides->frameDelimiter = hex;
    return true;
  }
  const std::string fixed = "fixed:";
  if (value.rfind(fixed, 0) == 0) {
    std::optional<int32_t> length = ParseNumber(std::string_view(value).substr(fixed.size()), 8192);
    if (!length || *length < 1) return false;
    overrides->framing = "fixed";
    overrides->frameLength = length;
    return true;
  }
  return false;
}

enum class Option {
  kConfig, kPlugin, kWriteDefaults, kCheckConfig, kTcp, kUdp, kTimeout, kFraming, kBind, kAllow, kMaxClients,
  kMaxClientsPerPeer, kOutput, kKeepRetrying, kHelp, kVersion
};

struct OptionName {
  const char* name;
  Option option;
  bool takesValue;
};

const OptionName kOptions[] = {
    {"--config", Option::kConfig, true},
    {"--plugin", Option::kPlugin, true},
    {"--write-default-config", Option::kWriteDefaults, true},
    {"--check-config", Option::kCheckConfig, true},
    {"--tcp", Option::kTcp, true},
    {"--udp", Option::kUdp, true},
    {"--timeout", Option::kTimeout, true},
    {"--framing", Option::kFraming, true},
    {"--bind", Option::kBind, true},
    {"--allow", Option::kAllow, true},
    {"--max-clients", Option::kMaxClients, true},
    {"--max-clients-per-peer", Option::kMaxClientsPerPeer, true},
    {"--output", Option::kOutput, true},
    {"--keep-retrying", Option::kKeepRetrying, false},
    {"--help", Option::kHelp, false},
    {"-h", Option::kHelp, false},
    {"--version", Option::kVersion, false},
};

// Stores one option's value; false with `error` set when it is unusable.
bool Apply(Option option, const std::string& value, HostOptions* o, std::string* error) {
  auto port = [&](int32_t protocol, const char* name) {
    std::optional<int32_t> number = ParseNumber(value, 65535);
    if (!number) {
      *error = std::string(name) + ": '" + value + "' is not a port number (1 to 65535)";
      return false;
    }
    if (*number == 0) {
      *error = std::string(name) + ": port 0 would be a free port that the system picks and nobody is told;"
                                   " give a port from 1 to 65535";
      return false;
    }
    o->overrides.protocol = protocol;
    o->overrides.port = number;
    return true;
  };
  switch (option) {
    case Option::kConfig: o->configFile = value; return true;
    case Option::kPlugin: o->pluginPath = value; return true;
    case Option::kWriteDefaults: o->writeDefaultConfig = value; return true;
    case Option::kCheckConfig: o->checkConfig = value; return true;
    case Option::kTcp: return port(1, "--tcp");
    case Option::kUdp: return port(0, "--udp");
    case Option::kTimeout: {
      o->overrides.tcpTimeout = ParseNumber(value, std::numeric_limits<int32_t>::max());
      if (!o->overrides.tcpTimeout) *error = "--timeout: '" + value + "' is not a number of seconds";
      return o->overrides.tcpTimeout.has_value();
    }
    case Option::kFraming:
      if (ParseFraming(value, &o->overrides)) return true;
      *error = "--framing: '" + value + "' is not one of none, line, delimiter:HEX (1 to 8 bytes), fixed:N (1 to 8192)";
      return false;
    case Option::kBind: {
      NetAddress address{};
      if (!ParseNetAddress(value.data(), value.size(), &address)) {
        *error = "--bind: '" + value + "' is not an IPv4 or IPv6 address (127.0.0.1, ::1, ::)";
        return false;
      }
      o->overrides.bindAddress = value;
      return true;
    }
    case Option::kAllow: {
      NetPrefix prefixes[kMaxAllowedPeers];
      if (ParseNetPrefixList(value.c_str(), prefixes, kMaxAllowedPeers) <= 0) {
        *error = "--allow: '" + value + "' is not a list of up to " + std::to_string(kMaxAllowedPeers) +
                 " addresses and prefixes (192.168.10.0/24,10.1.2.3)";
        return false;
      }
      o->overrides.allowedPeers = value;
      return true;
    }
    case Option::kMaxClients:
    case Option::kMaxClientsPerPeer: {
      std::optional<int32_t> limit = ParseNumber(value, kMaxClientsLimit);
      if (!limit || *limit < 1) {
        *error = std::string(option == Option::kMaxClients ? "--max-clients" : "--max-clients-per-peer") + ": '" +
                 value + "' is not a number of clients (1 to " + std::to_string(kMaxClientsLimit) + ")";
        return false;
      }
      (option == Option::kMaxClients ? o->overrides.maxClients : o->overrides.maxClientsPerPeer) = limit;
      return true;
    }
    case Option::kOutput:
      if (value == "text") {
        o->output = OutputMode::kText;
      } else if (value == "jsonl") {
        o->output = OutputMode::kJsonLines;
      } else if (value == "raw") {
        o->output = OutputMode::kRaw;
      } else {
        *error = "--output: '" + value + "' is not one of text, jsonl, raw";
        return false;
      }
      return true;
    case Option::kKeepRetrying: o->keepRetrying = true; return true;
    case Option::kHelp: o->help = true; return true;
    case Option::kVersion: o->version = true; return true;
  }
  return false;
}

}  // namespace

bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options, std::string* error) {
  *options = HostOptions{};
  bool seen[sizeof(kOptions) / sizeof(kOptions[0])] = {};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = arg.substr(equals + 1);
      arg.resize(equals);
    }
    const OptionName* matched = nullptr;
    for (const OptionName& candidate : kOptions) {
      if (arg == candidate.name) matched = &candidate;
    }
    if (matched == nullptr) {
      *error = "unknown argument '" + std::string(argv[i]) + "'";
      return false;
    }
    std::string value;
    if (matched->takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < argc) {
        value = argv[++i];
      }
      if (value.empty()) {
        *error = std::string(matched->name) + " needs a value";
        return false;
      }
    } else if (inlineValue) {
      *error = std::string(matched->name) + " takes no value";
      return false;
    }
    // -h and --help are one option; so are --tcp and --udp (below).
    std::size_t slot = 0;
    while (kOptions[slot].option != matched->option) ++slot;
    if (seen[slot]) {
      *error = std::string(matched->name) + " given twice";
      return false;
    }
    seen[slot] = true;
    if ((matched->option == Option::kTcp || matched->option == Option::kUdp) && options->overrides.port) {
      *error = "--tcp and --udp exclude each other";
      return false;
    }
    if (!Apply(matched->option, value, options, error)) return false;
  }
  if (!options->checkConfig.empty() && (!options->configFile.empty() || !options->writeDefaultConfig.empty())) {
    *error = std::string("--check-config excludes ") + (options->configFile.empty() ? "--write-default-config" : "--config");
    return false;
  }
  return true;
}

}  // namespace lanfeed::host
