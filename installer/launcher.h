// LanFeedInstaller: starts the desktop application manager (CEAPPMGR.EXE) on
// the package's INI file, which lies in the folder "INI" beside the program.
// Shows no window, does not wait, and always ends with exit code 0.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace lanfeed::installer {

inline constexpr std::size_t kStringCapacity = 100;  // title and class name

// Under HKEY_LOCAL_MACHINE; the default value holds the manager's full path.
inline constexpr const WChar* kAppManagerKey =
    LF_TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE");

// Appended to the program's folder.
inline constexpr const WChar* kIniFileSuffix = LF_TEXT("\\INI\\LanFeedPlugin.ini");

// Reads the application manager's path into `dest` of `capacity` wide
// characters. False, with `dest` untouched, when the key or its default value
// is missing or the value does not fit whole.
bool ReadAppManagerPath(WChar* dest, std::size_t capacity);

// Zero-fills `dest` of `capacity` wide characters, then writes the parameter
// text: a double quote, the program's folder (`program_path` up to, not
// including, its last backslash), "\INI\LanFeedPlugin.ini" and a double quote.
// False, with `dest` left all zero, when the path has no backslash or the text
// and its terminator do not fit.
bool BuildParameterText(const WChar* program_path, WChar* dest, std::size_t capacity);

// Makes the program's string resources available to backends without
// resources. Idempotent.
void RegisterInstallerStrings();

// The whole program. Returns the exit code, always 0.
int RunInstaller();

}  // namespace lanfeed::installer
