// The figures of a benchmark: per figure the plug-in's and the plain
// server's values of every round, printed as medians with their range, the
// ratio of the medians (plug-in / plain) and the goal's verdict.
#pragma once

#include <string>
#include <vector>

namespace bench {

double Median(std::vector<double> values);
// The value below which `fraction` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double fraction);

struct Goal {
  enum class Kind {
    kNone,
    kRatioAtLeast,   // plug-in / plain >= limit
    kRatioAtMost,    // plug-in / plain <= limit
    kPluginAtMost,   // plug-in <= limit (plain shown for comparison)
  };
  Kind kind = Kind::kNone;
  double limit = 0;
};

struct Figure {
  std::string name;
  std::vector<double> plugin;
  std::vector<double> plain;
  Goal goal;
  int decimals = 1;
};

// Prints the figures as a table under `title`, the notes, then how many
// goals were met.
void PrintFigures(const std::string& title, const std::vector<Figure>& figures,
                  const std::vector<std::string>& notes = {});

}  // namespace bench
