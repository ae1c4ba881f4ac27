#include "installer/launcher.h"
#include "installer/resource.h"
#include "platform/resources.h"

namespace lanfeed::installer {

namespace {

// Widens a macro's expansion (LF_TEXT alone would paste onto the macro name).
#define LANFEED_WIDEN(text) LF_TEXT(text)

constexpr StringResource kInstallerStrings[] = {
    {IDS_APP_TITLE, LANFEED_WIDEN(LANFEED_INSTALLER_TITLE_TEXT)},
    {IDC_LANFEEDINSTALLER, LANFEED_WIDEN(LANFEED_INSTALLER_CLASS_TEXT)},
};

#undef LANFEED_WIDEN

}  // namespace

void RegisterInstallerStrings() {
  RegisterStringTable(kInstallerStrings, sizeof(kInstallerStrings) / sizeof(kInstallerStrings[0]));
}

}  // namespace lanfeed::installer
