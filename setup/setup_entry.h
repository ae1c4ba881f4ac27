// The four exports of LanFeedSetup, called by the Windows CE CAB installer
// around copying and removing the package's files. Results are the codes of
// that installer's setup-library protocol.
#pragma once

#include <cstdint>

#include "platform/callconv.h"
#include "platform/text.h"
#include "platform/window.h"

namespace lanfeed::setup {

inline constexpr int32_t kInstallInitContinue = 0;
inline constexpr int32_t kInstallInitCancel = 1;
inline constexpr int32_t kInstallExitDone = 0;
inline constexpr int32_t kUninstallInitContinue = 0;
inline constexpr int32_t kUninstallInitCancel = 1;
inline constexpr int32_t kUninstallExitDone = 0;

}  // namespace lanfeed::setup

extern "C" {

// Before the package's files are copied. `first_call` is nonzero on the
// installer's first call; `previously_installed` is not used. Returns
// kInstallInitCancel when Corvane is not installed, and keeps returning it for
// as long as the library stays loaded.
int32_t LF_STDCALL Install_Init(lanfeed::WindowHandle parent, int32_t first_call,
                                int32_t previously_installed, const lanfeed::WChar* install_dir);

// After the files are copied: moves the plug-in and its UI files into
// Corvane's folders. The install folder argument and the five failure counts
// are not used. Always kInstallExitDone.
int32_t LF_STDCALL Install_Exit(lanfeed::WindowHandle parent, const lanfeed::WChar* install_dir,
                                uint16_t failed_dirs, uint16_t failed_files,
                                uint16_t failed_reg_keys, uint16_t failed_reg_values,
                                uint16_t failed_shortcuts);

// Before the package's files are removed: asks the user (when a parent window
// is given) and deletes the plug-in's files from Corvane's folders. Returns
// kUninstallInitCancel when the user cancels.
int32_t LF_STDCALL Uninstall_Init(lanfeed::WindowHandle parent, const lanfeed::WChar* install_dir);

// After the files are removed: clears the package folder. Always
// kUninstallExitDone.
int32_t LF_STDCALL Uninstall_Exit(lanfeed::WindowHandle parent);

}  // extern "C"
