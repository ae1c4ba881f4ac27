// The plug-in's settings reader and template writer over the host's XML
// tree: the shared reading cases, values as a person writes them in a file,
// and the default configuration's round trip.
#include <gtest/gtest.h>

#include <string>

#include "host/config_overrides.h"
#include "host/config_tree.h"
#include "host/default_config.h"
#include "host/materialise_defaults.h"
#include "plugin/config/config_template.h"
#include "plugin/config/device_settings.h"
#include "tests/config/device_read_cases.h"

namespace lanfeed::testing {
namespace {

using host::ConfigTree;
using host::XmlError;

// Parses "<Plugin>device</Plugin>" and reads it the way Configure does.
DeviceSettings ReadConfiguration(const std::string& device, ConfigTree* tree) {
  XmlError error;
  EXPECT_TRUE(tree->Parse("<Plugin>" + device + "</Plugin>", &error)) << error.message;
  DeviceSettings settings = host::EffectiveSettings(tree->root());
  EXPECT_EQ(tree->liveNodeCount(), 1u) << "the reader left cursors behind";
  return settings;
}

class DeviceReadOnXmlTree : public ::testing::TestWithParam<DeviceReadCase> {};

TEST_P(DeviceReadOnXmlTree, GivesTheExpectedRecord) {
  ConfigTree tree;
  ExpectSettings(ReadConfiguration(GetParam().device, &tree), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceReadOnXmlTree, ::testing::ValuesIn(DeviceReadCases()), DeviceReadCaseName);

TEST(DeviceReadOnXmlTree, ValuesAsWrittenInAFile) {
  const DeviceReadCase cases[] = {
      {"IndentedValues",
       "<Device>\n  <Enabled>\n    0\n  </Enabled>\n  <Protocol> 0 </Protocol>\n  <Port>\n    5000\n  </Port>\n</Device>",
       {.enabled = 0, .protocol = 0, .port = 5000}},
      {"NonNumericPortReadsAsZero", "<Device><Port>abc</Port></Device>", {.port = 0}},
      {"PortWithTrailingText", "<Device><Port>4000 # office</Port></Device>", {.port = 4000}},
      {"TimeoutBeyond32Bits", "<Device><TCPTimeout>99999999999</TCPTimeout></Device>", {.timeout = INT32_MAX}},
      {"PathWithEntityAndCdata",
       "<Device><Feedback><OnDispatch><WaveFile><File>\\A&amp;B\\<![CDATA[x<y>.wav]]></File></WaveFile>"
       "</OnDispatch></Feedback></Device>",
       {.wavePath = "\\A&B\\x<y>.wav"}},
      {"CommentsIgnored", "<Device><!-- UDP --><Protocol><!-- zero -->0</Protocol></Device>", {.protocol = 0}},
  };
  for (const DeviceReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigTree tree;
    ExpectSettings(ReadConfiguration(c.device, &tree), c.expected);
  }
}

TEST(DeviceReadOnXmlTree, ConfigurationWithoutDeviceUsesTheCreationValues) {
  for (const char* text : {"<Plugin/>", "<Plugin><Other/></Plugin>"}) {
    ConfigTree tree;
    ASSERT_TRUE(tree.Parse(text, nullptr));
    DeviceSettings settings = host::EffectiveSettings(tree.root());
    EXPECT_EQ(settings.Enabled, 1) << text;
    EXPECT_EQ(settings.Port, kDefaultPort) << text;
    EXPECT_EQ(settings.Feedback.Flags, 0u) << text << ": no Device element, no feedback";
  }
  EXPECT_EQ(host::EffectiveSettings(nullptr).Enabled, 0);
}

TEST(SettingOverrides, ReplaceWhatTheyNameAndNothingElse) {
  struct Case {
    const char* name;
    const char* text;
    host::SettingOverrides overrides;
    ExpectedSettings expected;
  };
  const Case cases[] = {
      {"NoDeviceYet", "<Plugin/>", {.protocol = 1, .port = 9000}, {.port = 9000}},
      {"ValueWithCommentAndCdata",
       "<Plugin><Device><Port> 5000 <![CDATA[1]]></Port><Protocol><!-- tcp -->1</Protocol>"
       "<Feedback><OnDispatch><Beeper><Freq>4000</Freq></Beeper></OnDispatch></Feedback></Device></Plugin>",
       {.protocol = 0, .port = 7000, .tcpTimeout = 0},
       {.protocol = 0, .port = 7000, .timeout = 0, .beeperFreq = 4000}},
      {"TimeoutOnly", "<Plugin><Device><Port>5000</Port><TCPTimeout>9</TCPTimeout></Device></Plugin>",
       {.tcpTimeout = 900}, {.port = 5000, .timeout = 900}},
      {"None", "<Plugin><Device><Enabled>0</Enabled><Port>5</Port></Device></Plugin>", {}, {.enabled = 0, .port = 5}},
      {"FramingOverTheFile",
       "<Plugin><Device><Framing>delimiter</Framing><FrameDelimiter>03</FrameDelimiter></Device></Plugin>",
       {.framing = "fixed", .frameLength = 10},
       {.framing = 3, .frameDelimiter = "\x03", .frameLength = 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigTree tree;
    ASSERT_TRUE(tree.Parse(c.text, nullptr));
    host::ApplyOverrides(c.overrides, &tree);
    ExpectSettings(host::EffectiveSettings(tree.root()), c.expected);
  }
}

// The shape of an element: name, attributes and element children, recursively.
std::string Shape(pugi::xml_node element) {
  std::string out = element.name();
  if (element.first_attribute()) {
    out += "[";
    for (pugi::xml_attribute a : element.attributes()) {
      if (a != element.first_attribute()) out += ",";
      out += std::string(a.name()) + "=" + a.value();
    }
    out += "]";
  }
  std::string children;
  for (pugi::xml_node child : element.children()) {
    if (child.type() != pugi::node_element) continue;
    if (!children.empty()) children += ",";
    children += Shape(child);
  }
  return children.empty() ? out : out + "(" + children + ")";
}

TEST(DefaultConfigurationOnXmlTree, HasExactlyTheTemplatesShape) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin stale=\"1\"><Device><Port>1</Port></Device><Other/>text</Plugin>", nullptr));
  ASSERT_EQ(WriteDefaultConfig(tree.root()), 0);
  EXPECT_EQ(tree.liveNodeCount(), 1u);
  EXPECT_EQ(Shape(tree.root()->element()), kDefaultTemplateShape);
  EXPECT_STREQ(tree.root()->GetValueA(), "") << "old text is gone";
}

TEST(DefaultConfigurationOnXmlTree, MaterialisedDefaultsReadBackAsTheDefaults) {
  ConfigTree tree;
  ASSERT_EQ(WriteDefaultConfig(tree.root()), 0);
  EXPECT_EQ(host::MaterialiseDefaults(tree.root()->element()), 8);
  EXPECT_EQ(host::MaterialiseDefaults(tree.root()->element()), 0) << "values already there stay";

  // Through a file's text, as a person would get it.
  ConfigTree reread;
  XmlError error;
  ASSERT_TRUE(reread.Parse(tree.ToXml(), &error)) << error.message;
  ExpectSettings(host::EffectiveSettings(reread.root()), {});
}

TEST(MaterialiseDefaults, OnlyFillsLeavesWithoutText) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<P><A default=\"1\"/><B default=\"2\">7</B><C default=\"3\"><D/></C>"
                         "<E default=\"\"/><F><G default=\"x y\"/></F></P>",
                         nullptr));
  EXPECT_EQ(host::MaterialiseDefaults(tree.root()->element()), 3);
  pugi::xml_node p = tree.root()->element();
  EXPECT_STREQ(p.child("A").text().get(), "1");
  EXPECT_STREQ(p.child("B").text().get(), "7");
  EXPECT_STREQ(p.child("C").text().get(), "");
  EXPECT_STREQ(p.child("F").child("G").text().get(), "x y");
}

}  // namespace
}  // namespace lanfeed::testing
