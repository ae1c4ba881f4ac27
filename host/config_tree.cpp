#include "host/config_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "host/config_value.h"
#include "host/host_files.h"
#include "platform/text.h"

namespace lanfeed::host {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default;

bool IsElement(pugi::xml_node node) { return node.type() == pugi::node_element; }

// The only element at the top of `doc`, or an empty node when there is none
// or more than one (`second` then receives the second one).
pugi::xml_node SingleRootElement(const pugi::xml_document& doc, pugi::xml_node* second) {
  pugi::xml_node found;
  for (pugi::xml_node child : doc.children()) {
    if (!IsElement(child)) continue;
    if (found) {
      if (second != nullptr) *second = child;
      return pugi::xml_node();
    }
    found = child;
  }
  return found;
}

void CollectDescendants(pugi::xml_node element, std::unordered_set<const void*>* out) {
  for (pugi::xml_node child : element.children()) {
    out->insert(child.internal_object());
    CollectDescendants(child, out);
  }
}

XmlError ErrorAt(std::string message, std::string_view text, std::size_t offset) {
  TextPosition position = PositionOf(text, offset);
  return XmlError{std::move(message), position.line, position.column};
}

bool IsHighSurrogate(WChar c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

TextPosition PositionOf(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  TextPosition position{1, 1};
  for (std::size_t i = 0; i < offset; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++position.line;
      position.column = 1;
    } else if ((c & 0xC0) != 0x80) {  // continuation bytes belong to the character before
      ++position.column;
    }
  }
  return position;
}

std::string FormatXmlError(const std::string& file, const XmlError& error) {
  if (error.line <= 0) return file + ": " + error.message;
  return file + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
         error.message;
}

// ---------------------------------------------------------------------------
// XmlConfigNode

XmlConfigNode::XmlConfigNode(ConfigTree* tree, pugi::xml_node element) : tree_(tree), element_(element) {
  tree_->Register(this);
}

XmlConfigNode::~XmlConfigNode() {
  cursors_.clear();
  tree_->Unregister(this);
}

std::string XmlConfigNode::Value() const {
  std::string text;
  for (pugi::xml_node child : element_.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  }
  return TrimValue(text);
}

XmlConfigNode* XmlConfigNode::OwnCursor(ConfigNode* cursor) const {
  for (const auto& own : cursors_) {
    if (own.get() == cursor) return own.get();
  }
  return nullptr;
}

void XmlConfigNode::MoveTo(pugi::xml_node element) {
  element_ = element;
  valueA_.clear();
}

void XmlConfigNode::RemoveContent() {
  tree_->ForgetDescendantsOf(element_);
  element_.remove_children();
  element_.remove_attributes();
}

int32_t XmlConfigNode::GetValueLength() {
  if (!element_) return 0;
  return static_cast<int32_t>(FromUtf8(Value()).size());
}

const char* XmlConfigNode::GetValueA() {
  valueA_ = element_ ? Value() : std::string();
  return valueA_.c_str();
}

int32_t XmlConfigNode::CopyValueW(WChar* buffer, int32_t size_bytes) {
  if (buffer == nullptr || size_bytes < static_cast<int32_t>(sizeof(WChar)) || !element_) return 0;
  WString value = FromUtf8(Value());
  std::size_t capacity = static_cast<std::size_t>(size_bytes) / sizeof(WChar);
  std::size_t count = std::min(value.size(), capacity);
  // Half a surrogate pair is no character: stop before it.
  if (count < value.size() && count > 0 && IsHighSurrogate(value[count - 1])) --count;
  std::copy_n(value.data(), count, buffer);
  if (count < capacity) buffer[count] = 0;
  return static_cast<int32_t>(count);
}

int32_t XmlConfigNode::GetValueInt() {
  if (!element_) return 0;
  return ParseDecimalInt32(Value());
}

int32_t XmlConfigNode::LoadFragments(const char* const* fragments) {
  if (fragments == nullptr || !element_) return 0;
  std::string joined;
  for (const char* const* fragment = fragments; *fragment != nullptr; ++fragment) joined += *fragment;
  pugi::xml_document parsed;
  if (!parsed.load_buffer(joined.data(), joined.size(), kParseOptions, pugi::encoding_utf8)) return 0;
  pugi::xml_node source = SingleRootElement(parsed, nullptr);
  if (!source) return 0;
  RemoveContent();
  element_.set_name(source.name());
  for (pugi::xml_attribute attribute : source.attributes()) element_.append_copy(attribute);
  for (pugi::xml_node child : source.children()) element_.append_copy(child);
  valueA_.clear();
  return 1;
}

int32_t XmlConfigNode::GetChildCount() {
  int32_t count = 0;
  for (pugi::xml_node child : element_.children()) count += IsElement(child) ? 1 : 0;
  return count;
}

int32_t XmlConfigNode::FindChild(ConfigNode* cursor, const char* name) {
  XmlConfigNode* own = OwnCursor(cursor);
  if (own == nullptr) return 0;
  pugi::xml_node found;
  if (name != nullptr && element_) {
    for (pugi::xml_node child : element_.children()) {
      if (IsElement(child) && std::strcmp(child.name(), name) == 0) {
        found = child;
        break;
      }
    }
  }
  own->MoveTo(found);
  return found ? 1 : 0;
}

int32_t XmlConfigNode::AppendChild(ConfigNode* cursor, const char* name, void* /*reserved*/) {
  XmlConfigNode* own = OwnCursor(cursor);
  if (own == nullptr || name == nullptr || *name == 0 || !element_) return 0;
  own->MoveTo(element_.append_child(name));
  return 1;
}

int32_t XmlConfigNode::Clear() {
  if (!element_) return 0;
  RemoveContent();
  valueA_.clear();
  return 1;
}

int32_t XmlConfigNode::SetAttributeA(const char* name, const char* value, int32_t /*flag*/) {
  if (!element_ || name == nullptr || *name == 0 || value == nullptr) return 0;
  pugi::xml_attribute attribute = element_.attribute(name);
  if (!attribute) attribute = element_.append_attribute(name);
  return attribute.set_value(value) ? 1 : 0;
}

int32_t XmlConfigNode::SetAttributeW(const char* name, const WChar* value, int32_t flag) {
  if (value == nullptr) return 0;
  return SetAttributeA(name, ToUtf8(value).c_str(), flag);
}

int32_t XmlConfigNode::SetAttributeInt(const char* name, int32_t value, int32_t flag) {
  return SetAttributeA(name, std::to_string(value).c_str(), flag);
}

ConfigNode* XmlConfigNode::CreateCursor() {
  cursors_.push_back(std::unique_ptr<XmlConfigNode>(new XmlConfigNode(tree_, pugi::xml_node())));
  return cursors_.back().get();
}

int32_t XmlConfigNode::ReleaseCursor(ConfigNode* cursor) {
  auto it = std::find_if(cursors_.begin(), cursors_.end(),
                         [cursor](const std::unique_ptr<XmlConfigNode>& own) { return own.get() == cursor; });
  if (it == cursors_.end()) return 0;
  cursors_.erase(it);
  return 1;
}

// ---------------------------------------------------------------------------
// ConfigTree

ConfigTree::ConfigTree(const char* rootName) {
  pugi::xml_node element = doc_.append_child(rootName != nullptr && *rootName != 0 ? rootName : "Plugin");
  root_.reset(new XmlConfigNode(this, element));
}

ConfigTree::~ConfigTree() { root_.reset(); }

void ConfigTree::ForgetDescendantsOf(pugi::xml_node element) {
  std::unordered_set<const void*> removed;
  CollectDescendants(element, &removed);
  if (removed.empty()) return;
  for (XmlConfigNode* node : live_) {
    if (node->element_ && removed.count(node->element_.internal_object()) != 0) node->MoveTo(pugi::xml_node());
  }
}

bool ConfigTree::Parse(std::string_view text, XmlError* error) {
  pugi::xml_document parsed;
  pugi::xml_parse_result result = parsed.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  XmlError ignored;
  XmlError& out = error != nullptr ? *error : ignored;
  if (!result) {
    out = ErrorAt(std::string("not well-formed XML: ") + result.description(), text,
                  static_cast<std::size_t>(std::max<std::ptrdiff_t>(result.offset, 0)));
    return false;
  }
  pugi::xml_node second;
  pugi::xml_node element = SingleRootElement(parsed, &second);
  if (!element) {
    std::ptrdiff_t offset = second.offset_debug();
    out = ErrorAt("not well-formed XML: more than one root element", text,
                  static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)));
    return false;
  }
  for (XmlConfigNode* node : live_) node->MoveTo(pugi::xml_node());
  doc_.reset(parsed);
  source_.assign(text.data(), text.size());
  root_->MoveTo(doc_.document_element());
  return true;
}

bool ConfigTree::LoadFile(const std::string& path, XmlError* error) {
  os::File file = os::OpenFile(path, "rb");
  if (!file) {
    if (error != nullptr) *error = XmlError{std::string("cannot read the file: ") + std::strerror(errno), 0, 0};
    return false;
  }
  std::string text;
  char buffer[16384];
  for (;;) {
    std::size_t n = std::fread(buffer, 1, sizeof(buffer), file.get());
    text.append(buffer, n);
    if (n < sizeof(buffer)) break;
  }
  if (std::ferror(file.get())) {
    if (error != nullptr) *error = XmlError{"cannot read the file", 0, 0};
    return false;
  }
  return Parse(text, error);
}

std::string ConfigTree::ToXml() const {
  std::ostringstream out;
  doc_.save(out, "  ", pugi::format_indent, pugi::encoding_utf8);
  return out.str();
}

bool ConfigTree::SaveFile(const std::string& path) const {
  os::File file = os::OpenFile(path, "wb");
  if (!file) return false;
  pugi::xml_writer_file writer(file.get());
  doc_.save(writer, "  ", pugi::format_indent, pugi::encoding_utf8);
  bool written = std::ferror(file.get()) == 0;
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace lanfeed::host
