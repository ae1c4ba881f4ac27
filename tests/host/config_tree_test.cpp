// The host's XML configuration tree as the plug-in sees it: values, integer
// conversion, UTF-16 lengths and bounds, cursor ownership, and the position
// of parse errors.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "host/config_tree.h"
#include "host/config_value.h"
#include "platform/text.h"

namespace lanfeed::host {
namespace {

// A tree "<Plugin><V>value</V></Plugin>" with a cursor standing on V.
class ValueTree {
 public:
  explicit ValueTree(const std::string& valueXml) {
    XmlError error;
    EXPECT_TRUE(tree.Parse("<Plugin><V>" + valueXml + "</V></Plugin>", &error)) << error.message;
    cursor = tree.root()->CreateCursor();
    EXPECT_NE(tree.root()->FindChild(cursor, "V"), 0);
  }
  ~ValueTree() { tree.root()->ReleaseCursor(cursor); }
  ConfigTree tree;
  ConfigNode* cursor;
};

TEST(ParseDecimalInt32, ReadsLeadingDigitsAndSaturates) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"0", 0},           {"42", 42},          {"+7", 7},         {"-5", -5},
      {"00012", 12},      {" \t\n 8", 8},      {"12abc", 12},     {"3.9", 3},
      {"abc", 0},         {"", 0},             {"-", 0},          {"+", 0},
      {"0x10", 0},        {"- 5", 0},          {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},               {"99999999999", INT32_MAX},
      {"-2147483648", INT32_MIN},              {"-2147483649", INT32_MIN},
      {"-99999999999", INT32_MIN},             {"100000000000000000000000000000", INT32_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimalInt32(c.text), c.value) << '"' << c.text << '"';
}

TEST(ConfigTreeValue, IsTheTrimmedTextContent) {
  struct Case {
    const char* xml;
    const char* value;
  };
  const Case cases[] = {
      {"5000", "5000"},
      {"\n    5000\n  ", "5000"},
      {"a<![CDATA[<b> & c]]>d", "a<b> & cd"},
      {"x<!-- note -->y", "xy"},
      {"a<Child>hidden</Child>c", "ac"},
      {"&amp;&lt;&#65;", "&<A"},
      {"  in  side  ", "in  side"},
      {"", ""},
  };
  for (const Case& c : cases) {
    ValueTree t(c.xml);
    EXPECT_STREQ(t.cursor->GetValueA(), c.value) << c.xml;
  }
}

TEST(ConfigTreeValue, IntegersGoThroughTheDecimalRule) {
  struct Case {
    const char* xml;
    int32_t value;
  };
  const Case cases[] = {{"65535", 65535}, {" -1 ", -1}, {"99999999999", INT32_MAX}, {"abc", 0}, {"", 0}};
  for (const Case& c : cases) {
    ValueTree t(c.xml);
    EXPECT_EQ(t.cursor->GetValueInt(), c.value) << c.xml;
  }
}

TEST(ConfigTreeValue, LengthCountsUtf16CodeUnits) {
  struct Case {
    const char* xml;
    int32_t length;
    std::size_t utf8Bytes;
  };
  const Case cases[] = {
      {"abc", 3, 3},
      {"Gr\xC3\xB6\xC3\x9F" "e", 5, 7},       // two 2-byte characters
      {"\xE2\x82\xAC", 1, 3},                 // euro sign
      {"\xF0\x9D\x84\x9E", 2, 4},             // G clef: a surrogate pair
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    ValueTree t(c.xml);
    EXPECT_EQ(t.cursor->GetValueLength(), c.length) << c.xml;
    EXPECT_EQ(std::string(t.cursor->GetValueA()).size(), c.utf8Bytes) << c.xml;
  }
}

TEST(ConfigTreeValue, CopyValueWNeverWritesBeyondItsSize) {
  const WChar kSentinel = 0x7777;
  struct Case {
    const char* xml;
    int32_t sizeBytes;
    WString expected;  // the buffer's first characters after the call
    int32_t result;
  };
  const Case cases[] = {
      {"abcdef", 3 * 2, WString{'a', 'b', 'c', kSentinel}, 3},                 // cut, no room for NUL
      {"abc", 3 * 2, WString{'a', 'b', 'c', kSentinel}, 3},                    // exact fit, no NUL
      {"abc", 4 * 2, WString{'a', 'b', 'c', 0, kSentinel}, 3},                 // room: NUL added
      {"abc", 7, WString{'a', 'b', 'c', kSentinel}, 3},                        // odd size rounds down
      {"a\xF0\x9D\x84\x9E", 2 * 2, WString{'a', 0, kSentinel}, 1},             // no half surrogate pair
      {"a\xF0\x9D\x84\x9E", 3 * 2, WString{'a', 0xD834, 0xDD1E, kSentinel}, 3},
      {"abc", 1, WString{kSentinel}, 0},
      {"abc", 0, WString{kSentinel}, 0},
      {"abc", -4, WString{kSentinel}, 0},
  };
  for (const Case& c : cases) {
    ValueTree t(c.xml);
    WChar buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), kSentinel);
    EXPECT_EQ(t.cursor->CopyValueW(buffer, c.sizeBytes), c.result) << c.xml << " size " << c.sizeBytes;
    EXPECT_EQ(WString(buffer, c.expected.size()), c.expected) << c.xml << " size " << c.sizeBytes;
  }
  ValueTree t("abc");
  EXPECT_EQ(t.cursor->CopyValueW(nullptr, 100), 0);
}

TEST(ConfigTreeCursors, BelongToTheNodeThatCreatedThem) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin><Device><Port>1</Port></Device></Plugin>", nullptr));
  ConfigNode* root = tree.root();
  ConfigNode* device = root->CreateCursor();
  ASSERT_NE(root->FindChild(device, "Device"), 0);
  ConfigNode* port = device->CreateCursor();

  EXPECT_EQ(root->FindChild(port, "Device"), 0) << "a cursor of another node is refused";
  EXPECT_EQ(root->ReleaseCursor(port), 0) << "released on the wrong node";
  EXPECT_EQ(root->AppendChild(port, "X", nullptr), 0);
  EXPECT_EQ(tree.document().child("Plugin").child("X"), pugi::xml_node());

  ASSERT_NE(device->FindChild(port, "Port"), 0);
  EXPECT_EQ(port->GetValueInt(), 1);
  EXPECT_EQ(tree.liveNodeCount(), 3u);
  // Releasing the Device cursor frees the Port cursor it still owns.
  EXPECT_EQ(root->ReleaseCursor(device), 1);
  EXPECT_EQ(tree.liveNodeCount(), 1u);
  EXPECT_EQ(tree.root()->cursorCount(), 0u);
}

TEST(ConfigTreeCursors, StandNowhereUntilFoundAndAfterAFailedFind) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin><Port>7</Port></Plugin>", nullptr));
  ConfigNode* cursor = tree.root()->CreateCursor();
  EXPECT_EQ(cursor->GetValueLength(), 0);
  EXPECT_STREQ(cursor->GetValueA(), "");
  EXPECT_EQ(cursor->GetChildCount(), 0);
  ASSERT_NE(tree.root()->FindChild(cursor, "Port"), 0);
  EXPECT_EQ(cursor->GetValueInt(), 7);
  EXPECT_EQ(tree.root()->FindChild(cursor, "port"), 0) << "names are case-sensitive";
  EXPECT_EQ(cursor->GetValueInt(), 0);
  EXPECT_EQ(tree.root()->FindChild(cursor, nullptr), 0);
  tree.root()->ReleaseCursor(cursor);
}

TEST(ConfigTreeCursors, RemovedContentLeavesNoCursorBehind) {
  // Cursors standing inside content that Clear or LoadFragments removes must
  // not refer to the removed elements (ASan reports any such use).
  const char* const kFragments[] = {"<Device a=\"1\">", "<Port>9</Port>", "</Device>", nullptr};
  for (int useLoad = 0; useLoad < 2; ++useLoad) {
    ConfigTree tree;
    ASSERT_TRUE(tree.Parse("<Plugin><Device><Port>1</Port></Device></Plugin>", nullptr));
    ConfigNode* device = tree.root()->CreateCursor();
    tree.root()->FindChild(device, "Device");
    ConfigNode* port = device->CreateCursor();
    device->FindChild(port, "Port");
    ConfigNode* sibling = tree.root()->CreateCursor();  // a second cursor on Device...
    tree.root()->FindChild(sibling, "Device");
    ConfigNode* inner = sibling->CreateCursor();  // ...whose cursor stands on Port too
    sibling->FindChild(inner, "Port");

    if (useLoad != 0) {
      EXPECT_EQ(device->LoadFragments(kFragments), 1);
    } else {
      EXPECT_EQ(device->Clear(), 1);
    }
    EXPECT_EQ(port->GetValueLength(), 0);
    EXPECT_EQ(inner->GetValueInt(), 0);
    EXPECT_EQ(inner->GetChildCount(), 0);
    EXPECT_EQ(sibling->GetChildCount(), useLoad != 0 ? 1 : 0) << "the Device element itself stays";
    tree.root()->ReleaseCursor(device);
    tree.root()->ReleaseCursor(sibling);
  }
}

TEST(ConfigTreeLoadFragments, ReplacesTheElementInPlace) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin><A/><Old x=\"1\"><Gone/></Old><Z/></Plugin>", nullptr));
  ConfigNode* cursor = tree.root()->CreateCursor();
  tree.root()->FindChild(cursor, "Old");
  const char* const fragments[] = {"<New ", "y=\"2\">", "<K>v</K>", "</New>", nullptr};
  EXPECT_EQ(cursor->LoadFragments(fragments), 1);
  EXPECT_EQ(cursor->GetChildCount(), 1);
  tree.root()->ReleaseCursor(cursor);
  EXPECT_EQ(tree.ToXml(), "<?xml version=\"1.0\"?>\n<Plugin>\n  <A />\n  <New y=\"2\">\n    <K>v</K>\n  </New>\n"
                          "  <Z />\n</Plugin>\n");
}

TEST(ConfigTreeLoadFragments, TextThatIsNotOneElementChangesNothing) {
  const char* const twoElements[] = {"<A/>", "<B/>", nullptr};
  const char* const unclosed[] = {"<A>", nullptr};
  const char* const empty[] = {nullptr};
  for (const char* const* fragments : {twoElements, unclosed, empty}) {
    ConfigTree tree;
    ASSERT_TRUE(tree.Parse("<Plugin><Old>1</Old></Plugin>", nullptr));
    ConfigNode* cursor = tree.root()->CreateCursor();
    tree.root()->FindChild(cursor, "Old");
    EXPECT_EQ(cursor->LoadFragments(fragments), 0);
    EXPECT_EQ(cursor->GetValueInt(), 1);
    tree.root()->ReleaseCursor(cursor);
  }
  ConfigTree tree;
  EXPECT_EQ(tree.root()->LoadFragments(nullptr), 0);
}

TEST(ConfigTreeAttributes, AreSetOnceAndReplaced) {
  ConfigTree tree;
  ConfigNode* root = tree.root();
  root->SetAttributeA("version", "1.1", 1);
  root->SetAttributeA("version", "1.1", 1);
  root->SetAttributeW("desc", LF_TEXT("LAN Feed \u00e9"), 1);
  root->SetAttributeInt("id", -4, 1);
  root->SetAttributeInt("id", 0, 1);
  EXPECT_EQ(root->SetAttributeA(nullptr, "x", 1), 0);
  EXPECT_EQ(root->SetAttributeW("w", nullptr, 1), 0);
  EXPECT_EQ(tree.ToXml(), "<?xml version=\"1.0\"?>\n<Plugin version=\"1.1\" desc=\"LAN Feed \xC3\xA9\" id=\"0\" />\n");
}

TEST(ConfigTreeParse, ReportsWhereTheTextIsNotWellFormed) {
  struct Case {
    const char* text;
    int line;
    int column;
    const char* message;
  };
  const Case cases[] = {
      {"<Plugin><Device></Plugin>", 1, 19, "Start-end tags mismatch"},
      {"<?xml version=\"1.0\"?>\n<Plugin>\n  <Port>1</Prt>\n</Plugin>", 3, 12, "Start-end tags mismatch"},
      {"<Plugin>\n\xC3\xA9\xC3\xA9<A b='1></A></Plugin>", 2, 9, "attribute"},  // columns count characters
      {"<Plugin>\r\n<A>", 2, 3, "Start-end tags mismatch"},
      {"", 1, 1, "No document element found"},
      {"  \n ", 2, 2, "No document element found"},
      {"<Plugin/>\n  <Second/>", 2, 4, "more than one root element"},
  };
  for (const Case& c : cases) {
    ConfigTree tree;
    XmlError error;
    EXPECT_FALSE(tree.Parse(c.text, &error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.column, c.column) << c.text;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    EXPECT_NE(error.message.find("not well-formed XML"), std::string::npos) << error.message;
  }
}

TEST(ConfigTreeParse, FailureLeavesTheTreeAsItWas) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin><Port>5</Port></Plugin>", nullptr));
  EXPECT_FALSE(tree.Parse("<Plugin><Port>6</Port>", nullptr));
  ConfigNode* cursor = tree.root()->CreateCursor();
  ASSERT_NE(tree.root()->FindChild(cursor, "Port"), 0);
  EXPECT_EQ(cursor->GetValueInt(), 5);
  tree.root()->ReleaseCursor(cursor);
}

TEST(ConfigTreeParse, ReparsingMovesOldCursorsToNowhere) {
  ConfigTree tree;
  ASSERT_TRUE(tree.Parse("<Plugin><Port>5</Port></Plugin>", nullptr));
  ConfigNode* cursor = tree.root()->CreateCursor();
  tree.root()->FindChild(cursor, "Port");
  ASSERT_TRUE(tree.Parse("<Other><Port>6</Port></Other>", nullptr));
  EXPECT_EQ(cursor->GetValueInt(), 0);
  ASSERT_NE(tree.root()->FindChild(cursor, "Port"), 0);
  EXPECT_EQ(cursor->GetValueInt(), 6);
  tree.root()->ReleaseCursor(cursor);
}

TEST(ConfigTreeFile, MissingFileHasNoPosition) {
  ConfigTree tree;
  XmlError error;
  EXPECT_FALSE(tree.LoadFile("/nonexistent/lanfeed/config.xml", &error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(FormatXmlError("c.xml", error).rfind("c.xml: cannot read the file", 0), 0u) << error.message;
  EXPECT_EQ(FormatXmlError("c.xml", XmlError{"bad", 3, 9}), "c.xml:3:9: bad");
}

TEST(PositionOf, CountsLinesAndCharacters) {
  EXPECT_EQ(PositionOf("abc", 0).column, 1);
  EXPECT_EQ(PositionOf("abc", 2).column, 3);
  EXPECT_EQ(PositionOf("a\nbc", 3).line, 2);
  EXPECT_EQ(PositionOf("a\nbc", 3).column, 2);
  EXPECT_EQ(PositionOf("a\n", 99).line, 2) << "offsets past the end count as the end";
  EXPECT_EQ(PositionOf("\xC3\xA9x", 2).column, 2) << "a two-byte character is one column";
}

}  // namespace
}  // namespace lanfeed::host
