#include "platform/app_window.h"

namespace lanfeed {

// No window system here, so there is no class table to enter the class into.
// The program never creates the window, so registering has nothing to keep.
bool RegisterAppWindowClass(const AppWindowClass& description) {
  return description.class_name != nullptr && description.class_name[0] != 0;
}

}  // namespace lanfeed
