#include "setup/setup_entry.h"

#include "platform/com.h"
#include "platform/delay.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/process.h"
#include "setup/folder_lookup.h"
#include "setup/messages.h"
#include "setup/package_files.h"
#include "setup/platform_check.h"
#include "setup/setup_state.h"

using lanfeed::WChar;
using lanfeed::WindowHandle;

namespace lanfeed::setup {
namespace {

// Time given to Corvane and the file system to let go of the files.
constexpr uint32_t kSettleMs = 3000;

// "/NOUI" anywhere in the installer's command line, in any letter case, even
// inside a longer word.
// Compared in place: nothing is allocated, so a long command line cannot fail.
bool CommandLineAsksForNoUi() {
  constexpr WChar kSwitch[] = LF_TEXT("/NOUI");
  const WChar* line = ProcessCommandLine();
  if (line == nullptr) return false;
  for (; *line != 0; ++line) {
    std::size_t i = 0;
    for (; kSwitch[i] != 0; ++i) {
      WChar c = line[i];
      if (c >= 'a' && c <= 'z') c = static_cast<WChar>(c - 'a' + 'A');
      if (c != kSwitch[i]) break;
    }
    if (kSwitch[i] == 0) return true;
  }
  return false;
}

// Records the installer's folder argument. One that does not fit is not
// recorded at all, and the buffer is left empty rather than holding a cut-off
// or a stale path.
void RecordPackageFolder(const WChar* install_dir) {
  SetupState& state = State();
  if (WStrLen(install_dir) + 1 > kMaxPath) {
    state.package_folder[0] = 0;
    return;
  }
  WStrCopy(state.package_folder, kMaxPath, install_dir);
}

}  // namespace
}  // namespace lanfeed::setup

using namespace lanfeed::setup;

extern "C" int32_t LF_STDCALL Install_Init(WindowHandle parent, int32_t first_call,
                                           int32_t /*previously_installed*/,
                                           const WChar* install_dir) {
  lanfeed::ScopedComInitialize com;
  SetupState& state = State();
  if (first_call) {
    if (parent != nullptr && !CommandLineAsksForNoUi()) {
      lanfeed::ShowMessageBox(parent, kInstallNotice, kMessageCaption, lanfeed::kMessageBoxOk);
    }
    if (!LookUpFolder(kCorvaneKey, state.corvane_folder, lanfeed::kMaxPath)) {
      state.install_answer = kInstallInitCancel;
    }
    // A package folder left over from an earlier installation.
    if (IsWindowsCePlatform() &&
        LookUpFolder(kPackageKey, state.package_folder, lanfeed::kMaxPath)) {
      ClearPackageFolder(state.package_folder);
    }
  }
  RecordPackageFolder(install_dir);
  return state.install_answer;
}

extern "C" int32_t LF_STDCALL Install_Exit(WindowHandle /*parent*/, const WChar* /*install_dir*/,
                                           uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) {
  lanfeed::ScopedComInitialize com;
  SetupState& state = State();
  lanfeed::Delay(kSettleMs);
  // A failed look-up keeps the folder that Install_Init found.
  LookUpFolder(kCorvaneKey, state.corvane_folder, lanfeed::kMaxPath);
  lanfeed::SetAttributes(state.corvane_folder, lanfeed::kFileAttributeNormal);
  MovePackageFiles(state.package_folder, state.corvane_folder);
  return kInstallExitDone;
}

extern "C" int32_t LF_STDCALL Uninstall_Init(WindowHandle parent, const WChar* /*install_dir*/) {
  lanfeed::ScopedComInitialize com;
  SetupState& state = State();
  if (parent != nullptr &&
      lanfeed::ShowMessageBox(parent, kUninstallQuestion, kMessageCaption,
                              lanfeed::kMessageBoxOkCancel) == lanfeed::kAnswerCancel) {
    return kUninstallInitCancel;
  }
  if (LookUpFolder(kCorvaneKey, state.corvane_folder, lanfeed::kMaxPath)) {
    lanfeed::Delay(kSettleMs);
    if (LookUpFolder(kCorvaneKey, state.corvane_folder, lanfeed::kMaxPath)) {
      DeleteInstalledFiles(state.corvane_folder);
    }
  }
  // A failed look-up leaves the package folder as it was.
  LookUpFolder(kPackageKey, state.package_folder, lanfeed::kMaxPath);
  return kUninstallInitContinue;
}

extern "C" int32_t LF_STDCALL Uninstall_Exit(WindowHandle /*parent*/) {
  SetupState& state = State();
  if (state.package_folder[0] != 0) ClearPackageFolder(state.package_folder);
  return kUninstallExitDone;
}
