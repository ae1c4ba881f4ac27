// The texts of the two message boxes. Tabs, blanks and line feeds are part of
// the texts as the user sees them.
#pragma once

#include "platform/text.h"

namespace lanfeed::setup {

inline constexpr const WChar* kMessageCaption = LF_TEXT("Important information");

// Shown once at installation (OK only) unless the command line holds "/NOUI".
inline constexpr const WChar* kInstallNotice =
    LF_TEXT("Corvane must be present on the device for this installation to succeed.")
    LF_TEXT("\t\t\t\t\t\t\t\t\t\t   \n")
    LF_TEXT("After successful installation, Corvane must be restarted to register the ")
    LF_TEXT("addition of this new plug-in. \t\t\t\t\t\t\t\t\t\t   ")
    LF_TEXT("Please Stop then Start Corvane via the Corvane Control Panel.");

// Asked at uninstallation (OK and Cancel).
inline constexpr const WChar* kUninstallQuestion =
    LF_TEXT("Corvane should be stopped before uninstalling this plug-in from the device.\n\n")
    LF_TEXT("If Corvane is running, tap Cancel then use the Corvane Control Panel to stop Corvane");

}  // namespace lanfeed::setup
