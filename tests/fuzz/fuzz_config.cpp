// libFuzzer target: arbitrary bytes as a configuration file, through the
// host's XML tree into the plug-in's settings reader and template writer.
// Besides the sanitizers' reports it traps when a read record breaks the
// reader's guarantees or when the reader leaves a cursor behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/config_tree.h"
#include "host/default_config.h"
#include "host/materialise_defaults.h"
#include "platform/text.h"
#include "plugin/config/config_template.h"
#include "plugin/config/device_settings.h"

namespace {

using lanfeed::DeviceSettings;
using lanfeed::host::ConfigTree;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckRecord(const DeviceSettings& s) {
  Require(s.Protocol == lanfeed::kProtocolTcp || s.Protocol == lanfeed::kProtocolUdp);
  Require(s.Port >= 0 && s.Port <= 65535);
  Require(s.TCPTimeout >= 0);
  Require(s.Reserved == 0 && s.Feedback.Reserved1 == 0 && s.Feedback.Reserved2 == 0);
  Require((s.Feedback.Flags & ~0xFu) == 0);
  // A path is complete: terminated inside its own buffer (ASan checks the bound).
  if (s.Feedback.WaveFilePath != nullptr) (void)lanfeed::WStrLen(s.Feedback.WaveFilePath);
}

// Reads the configuration as Configure does, plus the feedback readers on
// the root itself, and copies the record.
void ReadEverything(ConfigTree& tree) {
  DeviceSettings settings = lanfeed::host::EffectiveSettings(tree.root());
  CheckRecord(settings);
  DeviceSettings copy;
  copy = settings;
  CheckRecord(copy);
  Require(copy.Port == settings.Port && copy.Feedback.Flags == settings.Feedback.Flags);

  DeviceSettings direct;
  direct.ReadDevice(tree.root());
  CheckRecord(direct);
  direct.ReadFeedback(tree.root());
  CheckRecord(direct);
  DeviceSettings::ReadOnDispatch(tree.root(), &direct.Feedback);
  CheckRecord(direct);
  Require(tree.liveNodeCount() == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ConfigTree tree;
  lanfeed::host::XmlError error;
  if (!tree.Parse(text, &error)) {
    Require(error.line >= 1 && error.column >= 1);
    (void)lanfeed::host::FormatXmlError("fuzz.xml", error);
  } else {
    ReadEverything(tree);
    // The defaults written over whatever the file held read back as the defaults.
    Require(lanfeed::WriteDefaultConfig(tree.root()) == 0);
    lanfeed::host::MaterialiseDefaults(tree.root()->element());
    DeviceSettings defaults = lanfeed::host::EffectiveSettings(tree.root());
    Require(defaults.Enabled == 1 && defaults.Protocol == 1 && defaults.Port == lanfeed::kDefaultPort &&
            defaults.TCPTimeout == lanfeed::kDefaultTcpTimeout && defaults.Feedback.Flags == 1);
    Require(tree.liveNodeCount() == 1);
  }

  // The same bytes as template fragments loaded into an element.
  if (text.find('\0') == std::string_view::npos) {
    std::string fragment(text);
    const char* const fragments[] = {fragment.c_str(), nullptr};
    ConfigTree loaded;
    lanfeed::ConfigNode* cursor = loaded.root()->CreateCursor();
    loaded.root()->AppendChild(cursor, "Device", nullptr);
    if (cursor->LoadFragments(fragments) != 0) {
      DeviceSettings settings;
      settings.ReadDevice(cursor);
      CheckRecord(settings);
    }
    loaded.root()->ReleaseCursor(cursor);
    ReadEverything(loaded);
  }
  return 0;
}
