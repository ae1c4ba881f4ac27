// String resources of the running program.
//
// Windows: the program's STRINGTABLE (LoadStringW on the program's module).
// Elsewhere programs carry no resources: LoadStringResource answers from the
// table that the program registered with RegisterStringTable (Windows ignores
// that table).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

struct StringResource {
  uint32_t id;
  const WChar* text;
};

// Registers `count` entries that stay valid for the life of the process.
void RegisterStringTable(const StringResource* entries, std::size_t count);

// Copies string `id` into `buffer` of `capacity` wide characters, cut to
// capacity - 1 characters, always terminated (when capacity > 0). Returns the
// number of characters copied; 0 when the string does not exist.
int LoadStringResource(uint32_t id, WChar* buffer, std::size_t capacity);

}  // namespace lanfeed
