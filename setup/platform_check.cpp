#include "setup/platform_check.h"

#include "platform/system_info.h"
#include "platform/text.h"

namespace lanfeed::setup {

bool IsWindowsCePlatform() {
  WChar text[kMaxPath] = {};  // 520 bytes
  if (!QueryPlatformType(text, kMaxPath)) return false;
  // Exactly "WinCE" after the first blank.
  const WChar* word = text;
  while (*word != 0 && *word != LF_TEXT(' ')) ++word;
  if (*word == 0) return false;
  constexpr WChar kWinCe[] = LF_TEXT("WinCE");
  std::size_t i = 0;
  for (++word; kWinCe[i] != 0; ++i) {
    if (word[i] != kWinCe[i]) return false;
  }
  return word[i] == 0;
}

}  // namespace lanfeed::setup
