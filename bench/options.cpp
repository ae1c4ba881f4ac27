#include "bench/options.h"

#include <cstdlib>
#include <sstream>

namespace bench {

bool ParseCommonOption(int argc, char** argv, int* index, CommonOptions* options) {
  const std::string arg = argv[*index];
  const bool hasValue = *index + 1 < argc;
  if (arg == "--quick") {
    options->quick = true;
  } else if (arg == "--rounds" && hasValue) {
    options->rounds = std::atoi(argv[++*index]);
    if (options->rounds < 1 || options->rounds > 50) return false;
  } else if (arg == "--plugin" && hasValue) {
    options->plugin = argv[++*index];
  } else if (arg == "--only" && hasValue) {
    std::stringstream groups(argv[++*index]);
    for (std::string group; std::getline(groups, group, ',');) options->only.insert(group);
  } else {
    return false;
  }
  return true;
}

}  // namespace bench
