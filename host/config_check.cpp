#include "host/config_check.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "host/config_value.h"
#include "plugin/config/device_settings.h"
#include "plugin/config/net_address.h"

namespace lanfeed::host {

namespace {

// How the plug-in reads a leaf element.
enum class Kind {
  kDeviceEnabled,  // exactly "0" switches the input off; anything else leaves it on
  kProtocol,       // exactly "0" is UDP; anything else TCP
  kPort,           // an integer 0 to 65535; empty or out of range: 58627
  kTimeout,        // an integer 0 and up; empty or negative: 60
  kFlag,           // an integer, non-zero: on
  kInt32,          // an integer, all 32 bits
  kUInt16,         // an integer, its low 16 bits
  kText,           // any text
  kBindAddress,    // an IPv4 or IPv6 address; anything else: every local IPv4 address
  kAllowedPeers,   // addresses and prefixes; anything else: everyone
  kClientLimit,    // 1 to 100000; anything else: no limit
  kFraming,        // exactly none, line, delimiter or fixed; anything else: none
  kFrameDelimiter, // 1 to 8 bytes as pairs of hex digits; anything else: none set
  kFrameLength,    // 1 to 8192; anything else: none set
  kContainer,      // holds elements
};

struct Schema {
  const char* name;
  Kind kind;
  const Schema* children;  // ends with a null name; null for a leaf
};

constexpr Schema kEnd{nullptr, Kind::kText, nullptr};
constexpr Schema kBeeper[] = {{"Enabled", Kind::kFlag, nullptr}, {"Freq", Kind::kInt32, nullptr},
                              {"Time", Kind::kInt32, nullptr},   {"Volume", Kind::kInt32, nullptr}, kEnd};
constexpr Schema kLed[] = {{"Enabled", Kind::kFlag, nullptr}, {"Time", Kind::kUInt16, nullptr},
                           {"LEDColor", Kind::kUInt16, nullptr}, kEnd};
constexpr Schema kWaveFile[] = {{"Enabled", Kind::kFlag, nullptr}, {"File", Kind::kText, nullptr}, kEnd};
constexpr Schema kVibrator[] = {{"Enabled", Kind::kFlag, nullptr}, {"Time", Kind::kInt32, nullptr}, kEnd};
constexpr Schema kOnDispatch[] = {{"Beeper", Kind::kContainer, kBeeper},
                                  {"LED", Kind::kContainer, kLed},
                                  {"WaveFile", Kind::kContainer, kWaveFile},
                                  {"Vibrator", Kind::kContainer, kVibrator},
                                  kEnd};
constexpr Schema kFeedback[] = {{"OnDispatch", Kind::kContainer, kOnDispatch}, kEnd};
constexpr Schema kDevice[] = {{"Enabled", Kind::kDeviceEnabled, nullptr}, {"Protocol", Kind::kProtocol, nullptr},
                              {"Port", Kind::kPort, nullptr},            {"TCPTimeout", Kind::kTimeout, nullptr},
                              {"Feedback", Kind::kContainer, kFeedback},
                              {"BindAddress", Kind::kBindAddress, nullptr},
                              {"AllowedPeers", Kind::kAllowedPeers, nullptr},
                              {"MaxClients", Kind::kClientLimit, nullptr},
                              {"MaxClientsPerPeer", Kind::kClientLimit, nullptr},
                              {"Framing", Kind::kFraming, nullptr},
                              {"FrameDelimiter", Kind::kFrameDelimiter, nullptr},
                              {"FrameLength", Kind::kFrameLength, nullptr},
                              kEnd};

// The value as the configuration tree gives it to the plug-in.
std::string ValueOf(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  }
  return TrimValue(text);
}

// The value is a decimal integer as written: an optional sign, then only
// digits, and within the 32-bit range (which the plug-in's reading
// saturates at).
std::optional<int64_t> PlainInteger(const std::string& value) {
  std::size_t i = value.size() > 0 && (value[0] == '-' || value[0] == '+') ? 1 : 0;
  if (i == value.size() || value.size() - i > 12) return std::nullopt;
  int64_t magnitude = 0;
  for (std::size_t k = i; k < value.size(); ++k) {
    if (value[k] < '0' || value[k] > '9') return std::nullopt;
    magnitude = magnitude * 10 + (value[k] - '0');
  }
  int64_t number = value[0] == '-' ? -magnitude : magnitude;
  if (number < INT32_MIN || number > INT32_MAX) return std::nullopt;
  return number;
}

// An optional sign, then digits only (of any count).
bool IsDecimal(const std::string& value) {
  std::size_t i = value.size() > 0 && (value[0] == '-' || value[0] == '+') ? 1 : 0;
  if (i == value.size()) return false;
  for (; i < value.size(); ++i) {
    if (value[i] < '0' || value[i] > '9') return false;
  }
  return true;
}

class Checker {
 public:
  Checker(const ConfigTree& tree, const SettingOverrides& overrides) : tree_(tree), overrides_(overrides) {}

  std::vector<ConfigFinding> Run() {
    // Walked on a document parsed again from the source text: only a
    // document parsed from a buffer knows where its elements stand in it.
    pugi::xml_node root = tree_.document().document_element();
    if (!tree_.source().empty() &&
        parsed_.load_buffer(tree_.source().data(), tree_.source().size(), pugi::parse_default, pugi::encoding_utf8)) {
      root = parsed_.document_element();
      lines_ = true;
    }
    pugi::xml_node device = root.child("Device");
    if (!device) {
      std::string name = root.name();
      if (name == "Device") {
        Add(root, "Device", std::nullopt, "wrong root: the plug-in reads the Device element inside the root",
            "its defaults for everything (write <Plugin><Device>...</Device></Plugin>)");
        return std::move(findings_);
      } else {
        Add(root, name, std::nullopt, name == "Plugin" ? "missing: no Device element" : "wrong root: <" + name + "> holds no Device element",
            "its defaults for everything");
      }
    }
    for (pugi::xml_node child : root.children()) {
      if (child.type() != pugi::node_element) continue;
      if (child == device) {
        Walk(child, "Device", kDevice);
      } else if (std::strcmp(child.name(), "Device") == 0) {
        Add(child, "Device", std::nullopt, "repeated element", "only the first Device element (line " + Line(device) + ")");
      } else {
        Unknown(child, child.name());
      }
    }
    return std::move(findings_);
  }

 private:
  std::string Line(pugi::xml_node node) const { return std::to_string(LineOf(node)); }

  int LineOf(pugi::xml_node node) const {
    std::ptrdiff_t offset = node.offset_debug();
    if (offset < 0 || !lines_) return 0;
    return PositionOf(tree_.source(), static_cast<std::size_t>(offset)).line;
  }

  void Add(pugi::xml_node node, const std::string& path, std::optional<std::string> value, std::string why,
           std::string uses) {
    ConfigFinding finding;
    finding.line = LineOf(node);
    finding.element = path;
    finding.hasValue = value.has_value();
    if (value) finding.value = *value;
    finding.why = std::move(why);
    finding.uses = std::move(uses);
    findings_.push_back(std::move(finding));
  }

  void Unknown(pugi::xml_node element, const std::string& path) {
    bool leaf = !element.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    std::string value = leaf ? ValueOf(element) : std::string();
    Add(element, path, value.empty() ? std::nullopt : std::optional<std::string>(value), "unknown element", "");
  }

  void Walk(pugi::xml_node element, const std::string& path, const Schema* schema) {
    for (pugi::xml_node child : element.children()) {
      if (child.type() != pugi::node_element) continue;
      std::string childPath = path + "/" + child.name();
      const Schema* known = nullptr;
      for (const Schema* s = schema; s->name != nullptr; ++s) {
        if (std::strcmp(s->name, child.name()) == 0) known = s;
      }
      if (known == nullptr) {
        Unknown(child, childPath);
        continue;
      }
      pugi::xml_node first = element.child(child.name());
      if (first != child) {
        Add(child, childPath, std::nullopt, "repeated element", "only the first " + std::string(child.name()) +
                                                                    " here (line " + Line(first) + ")");
        continue;
      }
      if (known->kind == Kind::kContainer) {
        Walk(child, childPath, known->children);
      } else {
        for (pugi::xml_node inner : child.children()) {
          if (inner.type() == pugi::node_element) Unknown(inner, childPath + "/" + inner.name());
        }
        CheckValue(child, childPath, known->kind);
      }
    }
  }

  bool Overridden(Kind kind) const {
    return (kind == Kind::kProtocol && overrides_.protocol) || (kind == Kind::kPort && overrides_.port) ||
           (kind == Kind::kTimeout && overrides_.tcpTimeout) || (kind == Kind::kBindAddress && overrides_.bindAddress) ||
           (kind == Kind::kAllowedPeers && overrides_.allowedPeers) ||
           ((kind == Kind::kFraming || kind == Kind::kFrameDelimiter || kind == Kind::kFrameLength) &&
            overrides_.framing);
  }

  void CheckValue(pugi::xml_node element, const std::string& path, Kind kind) {
    if (Overridden(kind)) return;
    if (kind == Kind::kClientLimit && ((path == "Device/MaxClients" && overrides_.maxClients) ||
                                       (path == "Device/MaxClientsPerPeer" && overrides_.maxClientsPerPeer))) {
      return;
    }
    const std::string value = ValueOf(element);
    const std::optional<int64_t> plain = PlainInteger(value);
    const int32_t read = ParseDecimalInt32(value);  // what the plug-in's GetValueInt gets
    const bool decimal = IsDecimal(value);            // a number, maybe beyond 32 bits
    auto bad = [&](const std::string& why, const std::string& uses) { Add(element, path, value, why, uses); };
    auto notANumber = [&] { return value.empty() ? std::string("empty") : std::string("not a number"); };
    switch (kind) {
      case Kind::kDeviceEnabled:
        if (value != "0" && value != "1") bad(value.empty() ? "empty" : "not 0 or 1 (only 0 switches the input off)", "1 (on)");
        break;
      case Kind::kProtocol:
        if (value != "0" && value != "1") {
          bad(decimal ? "out of range (0 UDP, 1 TCP)" : notANumber(), "1 (TCP)");
        }
        break;
      case Kind::kPort:
        if (value.empty()) {
          bad("empty", std::to_string(kDefaultPort));
        } else if (read < 0 || read > 65535) {
          bad(decimal ? "out of range (0 to 65535)" : "not a number", std::to_string(kDefaultPort));
        } else if (!plain) {
          bad("not a number", PortText(read));
        } else if (read == 0) {
          bad("port 0", "0: the system picks a free port and nobody is told which (give 1 to 65535)");
        }
        break;
      case Kind::kTimeout:
        if (value.empty()) {
          bad("empty", std::to_string(kDefaultTcpTimeout) + " s");
        } else if (read < 0) {
          bad(decimal ? "out of range (0 and up)" : "not a number", std::to_string(kDefaultTcpTimeout) + " s");
        } else if (!plain) {
          bad(decimal ? "out of range (0 to 2147483647)" : "not a number", TimeoutText(read));
        }
        break;
      case Kind::kFlag:
        if (!plain) bad(notANumber(), read != 0 ? std::to_string(read) + " (on)" : "0 (off)");
        break;
      case Kind::kInt32:
        if (!plain) bad(decimal ? "out of range (32 bits)" : notANumber(), std::to_string(read));
        break;
      case Kind::kUInt16:
        if (!plain && !decimal) {
          bad(notANumber(), std::to_string(static_cast<uint16_t>(read)));
        } else if (!plain || *plain < 0 || *plain > 65535) {
          bad("out of range (0 to 65535)", std::to_string(static_cast<uint16_t>(read)) + " (its low 16 bits)");
        }
        break;
      case Kind::kBindAddress: {
        NetAddress address{};
        if (!ParseNetAddress(value.data(), value.size(), &address)) {
          bad(value.empty() ? "empty" : "not an IPv4 or IPv6 address", "every local IPv4 address");
        }
        break;
      }
      case Kind::kAllowedPeers: {
        NetPrefix prefixes[kMaxAllowedPeers];
        const int32_t count = ParseNetPrefixList(value.c_str(), prefixes, kMaxAllowedPeers);
        if (count == 0) {
          bad("empty", "no allow-list: everyone may send");
        } else if (count < 0) {
          bad("not a list of up to " + std::to_string(kMaxAllowedPeers) +
                  " addresses and prefixes (an entry is not an address, or has bits set past its prefix)",
              "no allow-list: everyone may send");
        }
        break;
      }
      case Kind::kClientLimit:
        if (!plain || *plain < 1 || *plain > kMaxClientsLimit) {
          bad(value.empty() ? "empty" : (decimal ? "out of range (1 to 100000)" : "not a number"), "no limit");
        }
        break;
      case Kind::kFraming:
        if (value != "none" && value != "line" && value != "delimiter" && value != "fixed") {
          bad(value.empty() ? "empty" : "not none, line, delimiter or fixed", "none (a record is what one receive returned)");
        }
        break;
      case Kind::kFrameDelimiter:
        if (value.empty() || value.size() % 2 != 0 || value.size() > 16 ||
            value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
          bad(value.empty() ? "empty" : "not 1 to 8 bytes as hex digits", "no delimiter (framing delimiter reads as none)");
        }
        break;
      case Kind::kFrameLength:
        if (!plain || *plain < 1 || *plain > 8192) {
          bad(value.empty() ? "empty" : (decimal ? "out of range (1 to 8192)" : "not a number"),
              "no length (framing fixed reads as none)");
        }
        break;
      case Kind::kText:
      case Kind::kContainer: break;
    }
  }

  static std::string PortText(int32_t port) {
    return port == 0 ? "0: the system picks a free port and nobody is told which" : std::to_string(port);
  }
  static std::string TimeoutText(int32_t seconds) {
    return seconds == 0 ? "0 (no time-out)" : std::to_string(seconds) + " s";
  }

  const ConfigTree& tree_;
  const SettingOverrides& overrides_;
  pugi::xml_document parsed_;
  bool lines_ = false;
  std::vector<ConfigFinding> findings_;
};

}  // namespace

std::vector<ConfigFinding> CheckConfiguration(const ConfigTree& tree, const SettingOverrides& overrides) {
  return Checker(tree, overrides).Run();
}

std::string FormatFinding(const std::string& file, const ConfigFinding& f) {
  std::string text = file;
  if (f.line > 0) text += ":" + std::to_string(f.line);
  text += ": " + f.element;
  if (f.hasValue) text += " \"" + f.value + "\"";
  return text + ": " + f.why + (f.uses.empty() ? "; the plug-in ignores it" : "; the plug-in uses " + f.uses);
}

}  // namespace lanfeed::host
