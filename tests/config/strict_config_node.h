// A strict in-memory ConfigNode for tests of the configuration code. It
// fails the running test when the code under test
//   - leaves a cursor unreleased (reported when the tree dies),
//   - releases a cursor on an element other than the one that created it,
//     or releases it twice,
//   - uses a cursor after its release,
//   - positions a cursor of another element with FindChild or AppendChild,
//   - reads a value through a cursor that stands nowhere (a child that was
//     not found).
// It records, per cursor, the element that created it and the names looked
// up through it, so tests can check how cursors are shared.
//
// CopyValueW fills the whole buffer it is given: the value, then 'Z'
// characters instead of a terminator, so the caller must add the NUL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin/config/config_node.h"

namespace lanfeed::testing {

struct FakeElement {
  std::string name;
  std::string value;  // the element's text
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::unique_ptr<FakeElement>> children;
  // When >= 0, GetValueLength reports this instead of the real length.
  int32_t reportedLength = -1;
  // When set, CopyValueW copies the value's characters only and leaves the
  // rest of the buffer as it was, as a host that reports more than it copies.
  bool copiesValueOnly = false;
  // Set when Clear or LoadFragments removed the element from the tree.
  bool removed = false;

  FakeElement* Child(std::string_view childName) const;
  // Value of the attribute, or null when it is missing.
  const std::string* Attribute(std::string_view attributeName) const;
};

// Parses the XML subset the tests write: elements, double-quoted attributes,
// self-closing tags and plain text (no entities, comments or declarations).
// Malformed text fails the test and yields an element named "parse-error".
std::unique_ptr<FakeElement> ParseFakeXml(std::string_view text);

// "Name[a=1,b=2](Child1,Child2[...](...))", for comparing shapes.
std::string DescribeShape(const FakeElement& element);

class StrictConfigTree;

class StrictConfigNode final : public ConfigNode {
 public:
  int32_t GetValueLength() override;
  const char* GetValueA() override;
  int32_t CopyValueW(WChar* buffer, int32_t size_bytes) override;
  int32_t GetValueInt() override;
  int32_t LoadFragments(const char* const* fragments) override;
  int32_t GetChildCount() override;
  int32_t FindChild(ConfigNode* cursor, const char* name) override;
  int32_t AppendChild(ConfigNode* cursor, const char* name, void* reserved) override;
  int32_t Clear() override;
  int32_t SetAttributeW(const char* name, const WChar* value, int32_t flag) override;
  int32_t SetAttributeA(const char* name, const char* value, int32_t flag) override;
  int32_t SetAttributeInt(const char* name, int32_t value, int32_t flag) override;
  ConfigNode* CreateCursor() override;
  int32_t ReleaseCursor(ConfigNode* cursor) override;

  ~StrictConfigNode() = default;

  // Name of the element that created this cursor ("" for the root node).
  const std::string& creatorName() const { return creatorName_; }
  // Names passed to FindChild with this cursor, in order.
  const std::vector<std::string>& finds() const { return finds_; }
  bool released() const { return released_; }
  FakeElement* element() const { return element_; }

 private:
  friend class StrictConfigTree;
  StrictConfigNode(StrictConfigTree* tree, StrictConfigNode* creator, FakeElement* element, int id);

  bool CheckAlive(const char* operation);
  bool CheckReadable(const char* operation);
  StrictConfigNode* CheckOwnCursor(ConfigNode* cursor, const char* operation);
  void Trace(const std::string& call);
  std::string Who() const;

  StrictConfigTree* tree_;
  StrictConfigNode* creator_;
  std::string creatorName_;
  FakeElement* element_;
  int id_;
  bool released_ = false;
  std::vector<std::string> finds_;
  std::string valueA_;
};

class StrictConfigTree {
 public:
  // A tree whose root element is `xml` (one element).
  explicit StrictConfigTree(std::string_view xml);
  // Fails the test for every cursor never released.
  ~StrictConfigTree();
  StrictConfigTree(const StrictConfigTree&) = delete;
  StrictConfigTree& operator=(const StrictConfigTree&) = delete;

  // The node of the root element.
  StrictConfigNode* root() { return root_.get(); }
  FakeElement& rootElement() { return *element_; }
  // Every cursor ever created, in creation order, released ones included.
  std::vector<const StrictConfigNode*> cursors() const;
  // Calls in order: "node.Clear", "cursor3.LoadFragments", ...
  const std::vector<std::string>& trace() const { return trace_; }
  // Byte sizes passed to CopyValueW, in order.
  const std::vector<int32_t>& copySizes() const { return copySizes_; }

 private:
  friend class StrictConfigNode;
  std::unique_ptr<FakeElement> element_;
  std::unique_ptr<StrictConfigNode> root_;
  // Cursors are kept (and stay valid memory) after their release so that a
  // use after release is reported instead of crashing.
  std::vector<std::unique_ptr<StrictConfigNode>> cursors_;
  std::vector<std::string> trace_;
  std::vector<int32_t> copySizes_;
  // Elements removed by Clear or LoadFragments, kept so that a cursor still
  // standing on one is reported rather than left dangling.
  std::vector<std::unique_ptr<FakeElement>> removed_;
};

// Makes every element that declares a `default` attribute and has no
// children carry that default as its value.
void MaterialiseFakeDefaults(FakeElement* element);

}  // namespace lanfeed::testing
