// Process entry of a Windows GUI program built on this layer (link with
// -municode); see platform/program_main.h. The command line and show state are
// not used. A program started by a test reads the test's registry root.
#include <windows.h>

#include "platform/internal/registry_root.h"
#include "platform/program_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  lanfeed::internal::InheritRegistryRoot();
  return lanfeed::ProgramMain();
}
