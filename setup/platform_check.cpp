#include "setup/platform_check.h"

#include "platform/system_info.h"
#include "platform/text.h"

namespace lanfeed::setup {

bool IsWindowsCePlatform() {
  WChar text[kMaxPath] = {};  // 520 bytes
  if (!QueryPlatformType(text, kMaxPath)) return false;
  WStringView view(text);
  std::size_t blank = view.find(LF_TEXT(' '));
  if (blank == WStringView::npos) return false;
  return view.substr(blank + 1) == LF_TEXT("WinCE");
}

}  // namespace lanfeed::setup
