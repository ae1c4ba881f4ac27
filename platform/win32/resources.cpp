#include "platform/resources.h"

#include <windows.h>

namespace lanfeed {

// The program's own STRINGTABLE is the source; the registered table is for
// backends without resources.
void RegisterStringTable(const StringResource*, std::size_t) {}

int LoadStringResource(uint32_t id, WChar* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = 0;
  return LoadStringW(GetModuleHandleW(nullptr), id, buffer, static_cast<int>(capacity));
}

}  // namespace lanfeed
