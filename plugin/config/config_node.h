// Corvane's interface to one element of its configuration tree. A cursor is a
// further ConfigNode, created by and belonging to its node. The operation
// order is the host's binary interface: do not reorder, add or remove virtual
// functions, and do not add a virtual destructor.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

class ConfigNode {
 public:
  // Characters in the value of the element; 0 when empty.
  virtual int32_t GetValueLength() = 0;
  // The value, NUL-terminated; owned by the host, valid while the cursor stays.
  virtual const char* GetValueA() = 0;
  // The value as UTF-16, never writing beyond `size_bytes`; no NUL is promised.
  virtual int32_t CopyValueW(WChar* buffer, int32_t size_bytes) = 0;
  // The value as a decimal integer.
  virtual int32_t GetValueInt() = 0;
  // The element becomes what the fragments, joined in order, describe.
  virtual int32_t LoadFragments(const char* const* fragments) = 0;
  // Number of child elements; 0 or less: none.
  virtual int32_t GetChildCount() = 0;
  // Positions `cursor` (created by this node) on the child named `name`.
  // Non-zero when found.
  virtual int32_t FindChild(ConfigNode* cursor, const char* name) = 0;
  // Appends a child named `name` and positions `cursor` on it.
  virtual int32_t AppendChild(ConfigNode* cursor, const char* name, void* reserved) = 0;
  // Empties the element.
  virtual int32_t Clear() = 0;
  virtual int32_t SetAttributeW(const char* name, const WChar* value, int32_t flag) = 0;
  virtual int32_t SetAttributeA(const char* name, const char* value, int32_t flag) = 0;
  virtual int32_t SetAttributeInt(const char* name, int32_t value, int32_t flag) = 0;
  // A new cursor of this node, standing nowhere yet.
  virtual ConfigNode* CreateCursor() = 0;
  // Releases a cursor that this node created; it is never used again.
  virtual int32_t ReleaseCursor(ConfigNode* cursor) = 0;

 protected:
  ~ConfigNode() = default;
};

}  // namespace lanfeed
