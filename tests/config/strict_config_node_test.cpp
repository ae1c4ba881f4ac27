// The strict fake must itself catch the faults it exists for; otherwise the
// reading tests above prove nothing.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "tests/config/strict_config_node.h"

namespace lanfeed::testing {
namespace {

TEST(StrictConfigTree, ReportsACursorNeverReleased) {
  EXPECT_NONFATAL_FAILURE(
      {
        StrictConfigTree tree("<Plugin><Device/></Plugin>");
        tree.root()->CreateCursor();
      },
      "never released");
}

TEST(StrictConfigTree, ReportsAReleaseOnTheWrongElement) {
  EXPECT_NONFATAL_FAILURE(
      {
        StrictConfigTree tree("<Plugin><Device><Port>1</Port></Device></Plugin>");
        ConfigNode* device = tree.root()->CreateCursor();
        tree.root()->FindChild(device, "Device");
        ConfigNode* port = device->CreateCursor();
        device->FindChild(port, "Port");
        tree.root()->ReleaseCursor(port);  // wrong: belongs to the Device cursor
        device->ReleaseCursor(port);
        tree.root()->ReleaseCursor(device);
      },
      "not on the element that created it");
}

TEST(StrictConfigTree, ReportsUseAfterReleaseAndDoubleRelease) {
  EXPECT_NONFATAL_FAILURE(
      {
        StrictConfigTree tree("<Plugin><Port>1</Port></Plugin>");
        ConfigNode* cursor = tree.root()->CreateCursor();
        tree.root()->FindChild(cursor, "Port");
        tree.root()->ReleaseCursor(cursor);
        cursor->GetValueInt();
      },
      "after its release");
  EXPECT_NONFATAL_FAILURE(
      {
        StrictConfigTree tree("<Plugin/>");
        ConfigNode* cursor = tree.root()->CreateCursor();
        tree.root()->ReleaseCursor(cursor);
        tree.root()->ReleaseCursor(cursor);
      },
      "released twice");
}

TEST(StrictConfigTree, ReportsReadingAChildThatWasNotFound) {
  EXPECT_NONFATAL_FAILURE(
      {
        StrictConfigTree tree("<Plugin/>");
        ConfigNode* cursor = tree.root()->CreateCursor();
        tree.root()->FindChild(cursor, "Port");
        cursor->GetValueA();
        tree.root()->ReleaseCursor(cursor);
      },
      "stands on no element");
}

TEST(StrictConfigTree, CopyValueWNeverTerminates) {
  StrictConfigTree tree("<Plugin>ab</Plugin>");
  WChar buffer[4] = {1, 1, 1, 1};
  EXPECT_EQ(tree.root()->CopyValueW(buffer, 3 * sizeof(WChar)), 2);
  EXPECT_EQ(buffer[0], 'a');
  EXPECT_EQ(buffer[1], 'b');
  EXPECT_EQ(buffer[2], 'Z');
  EXPECT_EQ(buffer[3], 1);  // never beyond the size
}

}  // namespace
}  // namespace lanfeed::testing
