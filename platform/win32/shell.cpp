#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

namespace lanfeed {

// The 32-bit build must produce the 60-byte record that the shell expects.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60,
              "SHELLEXECUTEINFOW has its 32-bit size");

bool ShellStart(const ShellExecuteRequest& request) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = request.mask;
  info.hwnd = request.owner;
  info.lpVerb = request.verb;
  info.lpFile = request.file;
  info.lpParameters = request.parameters;
  info.lpDirectory = request.directory;
  info.nShow = request.show;
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace lanfeed
