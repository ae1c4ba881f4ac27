#include "platform/resources.h"

namespace lanfeed {

namespace {
// Registered once by the program before it loads strings.
const StringResource* g_entries = nullptr;
std::size_t g_count = 0;
}  // namespace

void RegisterStringTable(const StringResource* entries, std::size_t count) {
  g_entries = entries;
  g_count = entries == nullptr ? 0 : count;
}

int LoadStringResource(uint32_t id, WChar* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = 0;
  for (std::size_t i = 0; i < g_count; ++i) {
    if (g_entries[i].id != id || g_entries[i].text == nullptr) continue;
    WStrCopy(buffer, capacity, g_entries[i].text);  // cut to fit, as LoadStringW does
    return static_cast<int>(WStrLen(buffer));
  }
  return 0;
}

}  // namespace lanfeed
