#include "tests/config/strict_config_node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace lanfeed::testing {

// ---------------------------------------------------------------------------
// FakeElement and the small XML reader

FakeElement* FakeElement::Child(std::string_view childName) const {
  for (const auto& child : children) {
    if (child->name == childName) return child.get();
  }
  return nullptr;
}

const std::string* FakeElement::Attribute(std::string_view attributeName) const {
  for (const auto& attribute : attributes) {
    if (attribute.first == attributeName) return &attribute.second;
  }
  return nullptr;
}

namespace {

class FakeXmlReader {
 public:
  explicit FakeXmlReader(std::string_view text) : text_(text) {}

  std::unique_ptr<FakeElement> Read() {
    SkipBlanks();
    auto element = ReadElement();
    SkipBlanks();
    if (element == nullptr || pos_ != text_.size()) {
      ADD_FAILURE() << "fake XML reader cannot read at offset " << pos_ << ": " << text_;
      element = std::make_unique<FakeElement>();
      element->name = "parse-error";
    }
    return element;
  }

 private:
  bool At(std::string_view what) const { return text_.substr(pos_, what.size()) == what; }
  void SkipBlanks() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) != nullptr) ++pos_;
  }
  std::string ReadName() {
    std::size_t begin = pos_;
    while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                   std::strchr("_-.:", text_[pos_]) != nullptr)) {
      ++pos_;
    }
    return std::string(text_.substr(begin, pos_ - begin));
  }

  std::unique_ptr<FakeElement> ReadElement() {
    if (!At("<")) return nullptr;
    ++pos_;
    auto element = std::make_unique<FakeElement>();
    element->name = ReadName();
    if (element->name.empty()) return nullptr;
    for (;;) {
      SkipBlanks();
      if (At("/>")) {
        pos_ += 2;
        return element;
      }
      if (At(">")) {
        ++pos_;
        break;
      }
      std::string name = ReadName();
      if (name.empty() || !At("=\"")) return nullptr;
      pos_ += 2;
      std::size_t end = text_.find('"', pos_);
      if (end == std::string_view::npos) return nullptr;
      element->attributes.emplace_back(name, std::string(text_.substr(pos_, end - pos_)));
      pos_ = end + 1;
    }
    for (;;) {
      if (pos_ >= text_.size()) return nullptr;
      if (At("</")) {
        pos_ += 2;
        if (ReadName() != element->name) return nullptr;
        SkipBlanks();
        if (!At(">")) return nullptr;
        ++pos_;
        return element;
      }
      if (At("<")) {
        auto child = ReadElement();
        if (child == nullptr) return nullptr;
        element->children.push_back(std::move(child));
        continue;
      }
      std::size_t end = text_.find('<', pos_);
      if (end == std::string_view::npos) return nullptr;
      element->value += text_.substr(pos_, end - pos_);
      pos_ = end;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

void MarkRemoved(FakeElement* element) {
  element->removed = true;
  for (auto& child : element->children) MarkRemoved(child.get());
}

}  // namespace

std::unique_ptr<FakeElement> ParseFakeXml(std::string_view text) { return FakeXmlReader(text).Read(); }

std::string DescribeShape(const FakeElement& element) {
  std::string out = element.name;
  if (!element.attributes.empty()) {
    out += "[";
    for (std::size_t i = 0; i < element.attributes.size(); ++i) {
      if (i > 0) out += ",";
      out += element.attributes[i].first + "=" + element.attributes[i].second;
    }
    out += "]";
  }
  if (!element.children.empty()) {
    out += "(";
    for (std::size_t i = 0; i < element.children.size(); ++i) {
      if (i > 0) out += ",";
      out += DescribeShape(*element.children[i]);
    }
    out += ")";
  }
  return out;
}

void MaterialiseFakeDefaults(FakeElement* element) {
  const std::string* declared = element->Attribute("default");
  if (declared != nullptr && element->children.empty() && element->value.empty()) element->value = *declared;
  for (auto& child : element->children) MaterialiseFakeDefaults(child.get());
}

// ---------------------------------------------------------------------------
// StrictConfigNode

StrictConfigNode::StrictConfigNode(StrictConfigTree* tree, StrictConfigNode* creator, FakeElement* element, int id)
    : tree_(tree), creator_(creator), element_(element), id_(id) {
  if (creator != nullptr && creator->element_ != nullptr) creatorName_ = creator->element_->name;
}

std::string StrictConfigNode::Who() const { return creator_ == nullptr ? "node" : "cursor" + std::to_string(id_); }

void StrictConfigNode::Trace(const std::string& call) { tree_->trace_.push_back(Who() + "." + call); }

bool StrictConfigNode::CheckAlive(const char* operation) {
  if (released_) {
    ADD_FAILURE() << operation << " on " << Who() << " after its release";
    return false;
  }
  return true;
}

bool StrictConfigNode::CheckReadable(const char* operation) {
  if (!CheckAlive(operation)) return false;
  if (element_ == nullptr) {
    ADD_FAILURE() << operation << " through " << Who() << ", which stands on no element (child not found)";
    return false;
  }
  if (element_->removed) {
    ADD_FAILURE() << operation << " through " << Who() << ", whose element was removed";
    return false;
  }
  return true;
}

StrictConfigNode* StrictConfigNode::CheckOwnCursor(ConfigNode* cursor, const char* operation) {
  auto* own = static_cast<StrictConfigNode*>(cursor);
  if (cursor == nullptr) {
    ADD_FAILURE() << operation << " on " << Who() << " with a null cursor";
    return nullptr;
  }
  if (own->creator_ != this) {
    ADD_FAILURE() << operation << " on " << Who() << " with " << own->Who() << ", a cursor of another element";
    return nullptr;
  }
  if (own->released_) {
    ADD_FAILURE() << operation << " on " << Who() << " with " << own->Who() << " after its release";
    return nullptr;
  }
  return own;
}

int32_t StrictConfigNode::GetValueLength() {
  Trace("GetValueLength");
  if (!CheckReadable("GetValueLength")) return 0;
  if (element_->reportedLength >= 0) return element_->reportedLength;
  return static_cast<int32_t>(FromUtf8(element_->value).size());
}

const char* StrictConfigNode::GetValueA() {
  Trace("GetValueA");
  valueA_ = CheckReadable("GetValueA") ? element_->value : std::string();
  return valueA_.c_str();
}

int32_t StrictConfigNode::CopyValueW(WChar* buffer, int32_t size_bytes) {
  Trace("CopyValueW");
  tree_->copySizes_.push_back(size_bytes);
  if (!CheckReadable("CopyValueW") || buffer == nullptr || size_bytes <= 0) return 0;
  WString value = FromUtf8(element_->value);
  std::size_t capacity = static_cast<std::size_t>(size_bytes) / sizeof(WChar);
  std::size_t count = std::min(value.size(), capacity);
  std::copy_n(value.data(), count, buffer);
  if (!element_->copiesValueOnly) std::fill(buffer + count, buffer + capacity, static_cast<WChar>('Z'));
  return static_cast<int32_t>(count);
}

int32_t StrictConfigNode::GetValueInt() {
  Trace("GetValueInt");
  if (!CheckReadable("GetValueInt")) return 0;
  errno = 0;
  long long value = std::strtoll(element_->value.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int32_t StrictConfigNode::LoadFragments(const char* const* fragments) {
  Trace("LoadFragments");
  if (!CheckReadable("LoadFragments") || fragments == nullptr) return 0;
  std::string joined;
  for (const char* const* f = fragments; *f != nullptr; ++f) joined += *f;
  auto parsed = ParseFakeXml(joined);
  for (auto& child : element_->children) {
    MarkRemoved(child.get());
    tree_->removed_.push_back(std::move(child));
  }
  element_->name = parsed->name;
  element_->value = parsed->value;
  element_->attributes = parsed->attributes;
  element_->children = std::move(parsed->children);
  return 1;
}

int32_t StrictConfigNode::GetChildCount() {
  Trace("GetChildCount");
  if (!CheckReadable("GetChildCount")) return 0;
  return static_cast<int32_t>(element_->children.size());
}

int32_t StrictConfigNode::FindChild(ConfigNode* cursor, const char* name) {
  Trace(std::string("FindChild ") + (name != nullptr ? name : "(null)"));
  StrictConfigNode* own = CheckOwnCursor(cursor, "FindChild");
  if (own == nullptr || !CheckReadable("FindChild")) return 0;
  own->finds_.push_back(name != nullptr ? name : "");
  own->element_ = name != nullptr ? element_->Child(name) : nullptr;
  return own->element_ != nullptr ? 1 : 0;
}

int32_t StrictConfigNode::AppendChild(ConfigNode* cursor, const char* name, void* reserved) {
  Trace(std::string("AppendChild ") + (name != nullptr ? name : "(null)"));
  StrictConfigNode* own = CheckOwnCursor(cursor, "AppendChild");
  if (own == nullptr || !CheckReadable("AppendChild") || name == nullptr) return 0;
  EXPECT_EQ(reserved, nullptr) << "AppendChild's last argument";
  auto child = std::make_unique<FakeElement>();
  child->name = name;
  own->element_ = child.get();
  element_->children.push_back(std::move(child));
  return 1;
}

int32_t StrictConfigNode::Clear() {
  Trace("Clear");
  if (!CheckReadable("Clear")) return 0;
  for (auto& child : element_->children) {
    MarkRemoved(child.get());
    tree_->removed_.push_back(std::move(child));
  }
  element_->children.clear();
  element_->attributes.clear();
  element_->value.clear();
  return 1;
}

int32_t StrictConfigNode::SetAttributeA(const char* name, const char* value, int32_t flag) {
  Trace(std::string("SetAttribute ") + (name != nullptr ? name : "(null)"));
  if (!CheckReadable("SetAttribute") || name == nullptr || value == nullptr) return 0;
  EXPECT_EQ(flag, 1) << "flag of SetAttribute " << name;
  for (auto& attribute : element_->attributes) {
    if (attribute.first == name) {
      attribute.second = value;
      return 1;
    }
  }
  element_->attributes.emplace_back(name, value);
  return 1;
}

int32_t StrictConfigNode::SetAttributeW(const char* name, const WChar* value, int32_t flag) {
  if (value == nullptr) return SetAttributeA(name, nullptr, flag);
  return SetAttributeA(name, ToUtf8(value).c_str(), flag);
}

int32_t StrictConfigNode::SetAttributeInt(const char* name, int32_t value, int32_t flag) {
  return SetAttributeA(name, std::to_string(value).c_str(), flag);
}

ConfigNode* StrictConfigNode::CreateCursor() {
  Trace("CreateCursor");
  if (!CheckAlive("CreateCursor")) return nullptr;
  int id = static_cast<int>(tree_->cursors_.size()) + 1;
  tree_->cursors_.push_back(std::unique_ptr<StrictConfigNode>(new StrictConfigNode(tree_, this, nullptr, id)));
  return tree_->cursors_.back().get();
}

int32_t StrictConfigNode::ReleaseCursor(ConfigNode* cursor) {
  Trace("ReleaseCursor");
  auto* own = static_cast<StrictConfigNode*>(cursor);
  if (cursor == nullptr) {
    ADD_FAILURE() << "ReleaseCursor on " << Who() << " with a null cursor";
    return 0;
  }
  if (own->creator_ != this) {
    ADD_FAILURE() << own->Who() << " released on " << Who() << ", not on the element that created it";
    return 0;
  }
  if (own->released_) {
    ADD_FAILURE() << own->Who() << " released twice";
    return 0;
  }
  own->released_ = true;
  return 1;
}

// ---------------------------------------------------------------------------
// StrictConfigTree

StrictConfigTree::StrictConfigTree(std::string_view xml)
    : element_(ParseFakeXml(xml)), root_(new StrictConfigNode(this, nullptr, element_.get(), 0)) {}

StrictConfigTree::~StrictConfigTree() {
  for (const auto& cursor : cursors_) {
    if (!cursor->released_) {
      ADD_FAILURE() << cursor->Who() << " (created on " << (cursor->creatorName_.empty() ? "?" : cursor->creatorName_)
                    << ") was never released";
    }
  }
}

std::vector<const StrictConfigNode*> StrictConfigTree::cursors() const {
  std::vector<const StrictConfigNode*> out;
  for (const auto& cursor : cursors_) out.push_back(cursor.get());
  return out;
}

}  // namespace lanfeed::testing
