#include "installer/launcher.h"
#include "platform/program_main.h"

int lanfeed::ProgramMain() { return lanfeed::installer::RunInstaller(); }
