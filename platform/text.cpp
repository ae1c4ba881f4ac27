#include "platform/text.h"

#include <new>

namespace lanfeed {

std::size_t WStrLen(const WChar* text) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool WStrCopy(WChar* dest, std::size_t capacity, const WChar* source) {
  if (dest == nullptr || capacity == 0) return false;
  std::size_t i = 0;
  if (source != nullptr) {
    for (; source[i] != 0; ++i) {
      if (i + 1 >= capacity) {
        dest[i] = 0;
        return false;
      }
      dest[i] = source[i];
    }
  }
  dest[i] = 0;
  return true;
}

WChar* WStrDup(const WChar* text) {
  const std::size_t length = WStrLen(text);
  WChar* copy = new (std::nothrow) WChar[length + 1];
  if (copy == nullptr) return nullptr;
  for (std::size_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

void WToUpperAscii(WChar* text) {
  if (text == nullptr) return;
  for (; *text != 0; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<WChar>(*text - 'a' + 'A');
  }
}

}  // namespace lanfeed
