// The command-line options both comparison programs share.
#pragma once

#include <set>
#include <string>

namespace bench {

struct CommonOptions {
  bool quick = false;          // --quick: small loads, one round
  int rounds = 0;              // --rounds N (1 to 50); 0: the default
  std::string plugin;          // --plugin PATH
  std::set<std::string> only;  // --only A,B: these groups only; empty: all

  // Rounds per figure: as given, else 1 with --quick and 5 without.
  int roundCount() const { return rounds > 0 ? rounds : quick ? 1 : 5; }
  bool Wanted(const char* group) const { return only.empty() || only.count(group) != 0; }
};

// Takes the option at argv[*index] (and its value, advancing *index) when it
// is one of the shared ones; false otherwise.
bool ParseCommonOption(int argc, char** argv, int* index, CommonOptions* options);

}  // namespace bench
