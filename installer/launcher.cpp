#include "installer/launcher.h"

#include "installer/resource.h"
#include "platform/app_window.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/shell.h"

namespace lanfeed::installer {

bool ReadAppManagerPath(WChar* dest, std::size_t capacity) {
  RegistryKey key;  // closed on every return
  if (!key.OpenLocalMachine(kAppManagerKey, kMaximumAllowed)) return false;
  return key.ReadString(nullptr, dest, capacity);
}

bool BuildParameterText(const WChar* program_path, WChar* dest, std::size_t capacity) {
  if (dest == nullptr || capacity == 0) return false;
  for (std::size_t i = 0; i < capacity; ++i) dest[i] = 0;
  WStringView path(program_path == nullptr ? LF_TEXT("") : program_path);
  std::size_t last_backslash = path.rfind(LF_TEXT('\\'));
  if (last_backslash == WStringView::npos) return false;
  WStringView folder = path.substr(0, last_backslash);
  WStringView suffix(kIniFileSuffix);
  // Two quotes, the folder, the suffix and the terminator.
  if (2 + folder.size() + suffix.size() + 1 > capacity) return false;
  std::size_t n = 0;
  dest[n++] = LF_TEXT('"');
  for (WChar c : folder) dest[n++] = c;
  for (WChar c : suffix) dest[n++] = c;
  dest[n++] = LF_TEXT('"');
  return true;
}

int RunInstaller() {
  RegisterInstallerStrings();
  WChar title[kStringCapacity];
  WChar class_name[kStringCapacity];
  LoadStringResource(IDS_APP_TITLE, title, kStringCapacity);
  LoadStringResource(IDC_LANFEEDINSTALLER, class_name, kStringCapacity);

  AppWindowClass window_class;
  window_class.class_name = class_name;
  window_class.icon_id = IDI_LANFEEDINSTALLER;
  window_class.small_icon_id = IDI_SMALL;
  window_class.menu_id = IDC_LANFEEDINSTALLER;
  window_class.about_dialog_id = IDD_ABOUTBOX;
  window_class.about_command = IDM_ABOUT;
  window_class.exit_command = IDM_EXIT;
  RegisterAppWindowClass(window_class);  // never used for a window; outcome not needed

  WChar manager[kMaxPath];
  if (!ReadAppManagerPath(manager, kMaxPath)) return 0;

  WChar program[kMaxPath];
  WChar parameters[kMaxPath];
  if (!ProgramFilePath(program, kMaxPath)) return 0;
  if (!BuildParameterText(program, parameters, kMaxPath)) return 0;

  ShellExecuteRequest request;
  request.mask = 0;  // no process handle: the manager is not waited for
  request.owner = nullptr;
  request.verb = LF_TEXT("open");
  request.file = manager;
  request.parameters = parameters;
  request.directory = nullptr;
  request.show = kShowNormal;
  ShellStart(request);  // a failed start is reported by the system, not here
  return 0;
}

}  // namespace lanfeed::installer
