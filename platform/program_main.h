// The main routine of a program built on this layer. The program defines
// ProgramMain; the backend's process entry (wWinMain for a Windows GUI program,
// main elsewhere: platform/<backend>/entry/program_main.cpp, linked into the
// program only) ignores the command line and show state, calls it and ends
// the process with its result.
#pragma once

namespace lanfeed {

int ProgramMain();

}  // namespace lanfeed
