#include "plugin/config/config_template.h"

#include "plugin/config/config_node.h"
#include "plugin/input_plugin.h"

namespace lanfeed {

// Stored exactly as the host expects them, the two blanks before `default`
// and the maximum 65635 of the Port fragment included.
const char* const ConfigTemplate[20] = {
    "<Device id=\"\" desc=\"\" name=\"\" devicetype=\"\">",
    "<Enabled type=\"bool\" default=\"1\" />",
    "<Protocol type=\"integer\" min=\"0\" max=\"1\" default=\"1\" />",
    "<Port type=\"integer\" min=\"1\" max=\"65635\"  default=\"58627\" />",
    "<TCPTimeout type=\"integer\" min=\"0\" max=\"900\" default=\"60\" />",
    "<Feedback>",
    "<OnDispatch type=\"feedback\">",
    "<Beeper>",
    "<Enabled default=\"1\" />",
    "<Freq default=\"3000\" />",
    "<Time default=\"300\" />",
    "<Volume default=\"0\" />",
    "</Beeper>",
    "<LED />",
    "<Vibrator />",
    "<WaveFile />",
    "</OnDispatch>",
    "</Feedback>",
    "</Device>",
    nullptr,
};

int32_t WriteDefaultConfig(ConfigNode* node) {
  if (node == nullptr) return 1;
  node->Clear();
  ConfigNode* cursor = node->CreateCursor();
  node->AppendChild(cursor, "Device", nullptr);
  cursor->LoadFragments(ConfigTemplate);
  cursor->SetAttributeInt("id", 0, 1);
  cursor->SetAttributeA("desc", "Server0", 1);
  cursor->SetAttributeA("name", "Server0", 1);
  cursor->SetAttributeInt("devicetype", 4, 1);
  node->ReleaseCursor(cursor);
  node->SetAttributeA("lib", "LanFeed.dll", 1);
  node->SetAttributeW("id", LF_TEXT("LANFEED"), 1);
  node->SetAttributeW("desc", kDisplayName, 1);
  node->SetAttributeA("version", "1.1", 1);
  node->SetAttributeA("version", "1.1", 1);
  return 0;
}

}  // namespace lanfeed
