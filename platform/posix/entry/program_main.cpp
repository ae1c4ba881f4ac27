// Process entry of a program built on this layer; see platform/program_main.h.
#include "platform/program_main.h"

int main() { return lanfeed::ProgramMain(); }
