// Process entry of a Windows GUI program built on this layer (link with
// -municode); see platform/program_main.h. The command line and show state are
// not used.
#include <windows.h>

#include "platform/program_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return lanfeed::ProgramMain(); }
