// The default configuration written into the host's node, on the strict
// fake tree: what is written, in which order the node is used, and that the
// written defaults read back as the reader's own defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "plugin/config/config_template.h"
#include "plugin/config/device_settings.h"
#include "tests/config/device_read_cases.h"
#include "tests/config/strict_config_node.h"

namespace lanfeed::testing {
namespace {


TEST(WriteDefaultConfig, NullNodeReturnsOne) { EXPECT_EQ(WriteDefaultConfig(nullptr), 1); }

TEST(WriteDefaultConfig, EmptyNodeGetsExactlyTheTemplate) {
  StrictConfigTree tree("<Plugin/>");
  EXPECT_EQ(WriteDefaultConfig(tree.root()), 0);
  EXPECT_EQ(DescribeShape(tree.rootElement()), kDefaultTemplateShape);
}

TEST(WriteDefaultConfig, NodeWithContentIsEmptiedFirst) {
  StrictConfigTree tree(
      "<Plugin lib=\"old.dll\" extra=\"1\" version=\"0.9\"><Device><Port>1</Port></Device><Other/>stale</Plugin>");
  EXPECT_EQ(WriteDefaultConfig(tree.root()), 0);
  EXPECT_EQ(DescribeShape(tree.rootElement()), kDefaultTemplateShape);
  EXPECT_EQ(tree.rootElement().value, "");
  ASSERT_FALSE(tree.trace().empty());
  EXPECT_EQ(tree.trace().front(), "node.Clear");
}

TEST(WriteDefaultConfig, CursorIsReleasedOnTheNodeBeforeTheNodeAttributes) {
  StrictConfigTree tree("<Plugin/>");
  WriteDefaultConfig(tree.root());
  const auto& trace = tree.trace();
  auto release = std::find(trace.begin(), trace.end(), "node.ReleaseCursor");
  ASSERT_NE(release, trace.end());
  // The Device attributes are set through the cursor, the identity through
  // the node, after the cursor is gone. (The fake reports a wrong or missing
  // release itself.)
  EXPECT_EQ(std::count(trace.begin(), release, "cursor1.LoadFragments"), 1);
  EXPECT_EQ(std::count(release, trace.end(), "node.SetAttribute lib"), 1);
  EXPECT_EQ(std::count_if(release, trace.end(), [](const std::string& call) { return call.rfind("cursor", 0) == 0; }),
            0);
}

TEST(WriteDefaultConfig, WrittenDefaultsReadBackAsTheDefaults) {
  StrictConfigTree tree("<Plugin/>");
  ASSERT_EQ(WriteDefaultConfig(tree.root()), 0);
  MaterialiseFakeDefaults(&tree.rootElement());
  EXPECT_EQ(tree.rootElement().Child("Device")->Child("Port")->value, "58627");

  DeviceSettings settings;
  settings.Enabled = 1;
  ConfigNode* cursor = tree.root()->CreateCursor();
  ASSERT_NE(tree.root()->FindChild(cursor, "Device"), 0);
  settings.ReadDevice(cursor);
  tree.root()->ReleaseCursor(cursor);
  ExpectSettings(settings, {});
}

}  // namespace
}  // namespace lanfeed::testing
