// The reference host's configuration tree: an XML document (pugixml) whose
// elements the plug-in reaches through the ConfigNode interface.
//
// Guarantees towards the plug-in:
// - A cursor is a node created by and belonging to the node that made it. It
//   lives until ReleaseCursor on that node, or until that node dies, which
//   frees every cursor still left. FindChild, AppendChild and ReleaseCursor
//   accept only cursors of the node they are called on; any other pointer is
//   refused (result 0) rather than trusted.
// - A cursor stands nowhere after CreateCursor and after a FindChild that
//   found nothing. A cursor standing nowhere reads an empty value (length 0,
//   "" and integer 0) and has no children.
// - Clear and LoadFragments remove the element's old content; every cursor
//   of the tree that stood inside it then stands nowhere, so no cursor ever
//   refers to a removed element.
// - The value of an element is its text content (its text and CDATA
//   children joined) without surrounding blanks (see TrimValue). It is UTF-8
//   in the file and in GetValueA, UTF-16 in GetValueLength (which counts
//   UTF-16 code units) and CopyValueW (which never writes beyond its byte
//   size, never splits a surrogate pair, and adds a NUL only when it fits).
// - GetValueInt reads the value with ParseDecimalInt32: leading decimal
//   digits after optional blanks and sign, 0 for non-numeric text, saturated
//   to the 32-bit range.
// - LoadFragments joins the fragments, parses them as one XML element and
//   makes the element the cursor stands on that element (same position in
//   the tree, new name, attributes and content). Text that is not one
//   well-formed element leaves the element unchanged (result 0).
// - Attributes are set or replaced (the flag is ignored); setting the same
//   value twice leaves the element as after the first call.
//
// Not thread-safe: the host uses a tree from one thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

#include "plugin/config/config_node.h"

namespace lanfeed::host {

class ConfigTree;

// Where and why a text is not a usable configuration document. `line` and
// `column` count from 1 (columns in characters); both are 0 when the file
// could not be read at all.
struct XmlError {
  std::string message;
  int line = 0;
  int column = 0;
};

struct TextPosition {
  int line;
  int column;
};
// The 1-based line and column (in UTF-8 characters) of byte `offset` of
// `text`; offsets past the end count as the end.
TextPosition PositionOf(std::string_view text, std::size_t offset);

// "FILE:LINE:COLUMN: MESSAGE", or "FILE: MESSAGE" without a position.
std::string FormatXmlError(const std::string& file, const XmlError& error);

class XmlConfigNode final : public ConfigNode {
 public:
  ~XmlConfigNode();  // frees the cursors still left
  XmlConfigNode(const XmlConfigNode&) = delete;
  XmlConfigNode& operator=(const XmlConfigNode&) = delete;

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

  // The element this node stands on; empty when it stands nowhere.
  pugi::xml_node element() const { return element_; }
  // Cursors created by this node and not yet released.
  std::size_t cursorCount() const { return cursors_.size(); }

 private:
  friend class ConfigTree;
  XmlConfigNode(ConfigTree* tree, pugi::xml_node element);

  std::string Value() const;
  XmlConfigNode* OwnCursor(ConfigNode* cursor) const;
  void MoveTo(pugi::xml_node element);
  // Removes the element's children and attributes, moving every cursor that
  // stood inside it to nowhere.
  void RemoveContent();

  ConfigTree* tree_;
  pugi::xml_node element_;
  std::vector<std::unique_ptr<XmlConfigNode>> cursors_;
  std::string valueA_;  // what GetValueA returned last
};

class ConfigTree {
 public:
  // A document holding only an empty root element named `rootName`.
  explicit ConfigTree(const char* rootName = "Plugin");
  ~ConfigTree();
  ConfigTree(const ConfigTree&) = delete;
  ConfigTree& operator=(const ConfigTree&) = delete;

  // Replaces the document with `text`: UTF-8 XML with exactly one root
  // element. On failure returns false, fills `error` (position of the fault)
  // and leaves the tree as it was. Every cursor stands nowhere afterwards.
  bool Parse(std::string_view text, XmlError* error);
  // Parse on the contents of the file at `path` (UTF-8 on every system).
  bool LoadFile(const std::string& path, XmlError* error);

  // The node of the root element: the plug-in's configuration node.
  XmlConfigNode* root() { return root_.get(); }
  pugi::xml_document& document() { return doc_; }
  const pugi::xml_document& document() const { return doc_; }

  // The text the document was last parsed from (empty before any Parse).
  const std::string& source() const { return source_; }

  // The document as indented UTF-8 XML with a declaration.
  std::string ToXml() const;
  // Writes ToXml's text to the file at `path` (UTF-8), replacing it; false
  // when the file cannot be opened or fully written.
  bool SaveFile(const std::string& path) const;

  // Number of nodes alive: the root plus every cursor not yet released.
  std::size_t liveNodeCount() const { return live_.size(); }

 private:
  friend class XmlConfigNode;
  void Register(XmlConfigNode* node) { live_.insert(node); }
  void Unregister(XmlConfigNode* node) { live_.erase(node); }
  // Moves every node standing below `element` to nowhere.
  void ForgetDescendantsOf(pugi::xml_node element);

  pugi::xml_document doc_;
  std::string source_;
  std::unordered_set<XmlConfigNode*> live_;
  std::unique_ptr<XmlConfigNode> root_;  // after live_: unregisters on destruction
};

}  // namespace lanfeed::host
