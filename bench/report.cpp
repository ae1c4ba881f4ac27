#include "bench/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  std::size_t rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  rank = std::clamp<std::size_t>(rank, 1, values.size());
  return values[rank - 1];
}

namespace {

std::string Format(double value, int decimals) {
  if (std::isnan(value)) return "-";
  if (std::isinf(value)) return "inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "median (min..max)" of the rounds.
std::string Summary(const std::vector<double>& values, int decimals) {
  if (values.empty()) return "-";
  std::string text = Format(Median(values), decimals);
  if (values.size() > 1) {
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    text += " (" + Format(*low, decimals) + ".." + Format(*high, decimals) + ")";
  }
  return text;
}

double Ratio(double plugin, double plain) {
  if (std::isnan(plugin) || std::isnan(plain)) return NAN;
  if (plain == 0) return plugin == 0 ? 1.0 : INFINITY;
  return plugin / plain;
}

std::string GoalText(const Goal& goal) {
  char text[64];
  switch (goal.kind) {
    case Goal::Kind::kRatioAtLeast: std::snprintf(text, sizeof text, "ratio >= %.2f", goal.limit); break;
    case Goal::Kind::kRatioAtMost: std::snprintf(text, sizeof text, "ratio <= %.2f", goal.limit); break;
    case Goal::Kind::kPluginAtMost: std::snprintf(text, sizeof text, "plug-in <= %g", goal.limit); break;
    case Goal::Kind::kNone: return "no goal";
  }
  return text;
}

// 1 met, 0 missed, -1 no goal or no figures.
int Verdict(const Goal& goal, double plugin, double ratio) {
  if (goal.kind == Goal::Kind::kNone || std::isnan(plugin)) return -1;
  if (goal.kind == Goal::Kind::kPluginAtMost) return plugin <= goal.limit ? 1 : 0;
  if (std::isnan(ratio)) return -1;
  if (goal.kind == Goal::Kind::kRatioAtLeast) return ratio >= goal.limit ? 1 : 0;
  return ratio <= goal.limit ? 1 : 0;
}

}  // namespace

void PrintFigures(const std::string& title, const std::vector<Figure>& figures,
                  const std::vector<std::string>& notes) {
  std::printf("\n%s\n", title.c_str());
  std::printf("%-48s %-26s %-26s %7s  %-16s %s\n", "figure", "plug-in median (range)",
              "plain median (range)", "ratio", "goal", "verdict");
  int met = 0;
  int goals = 0;
  for (const Figure& figure : figures) {
    const double plugin = Median(figure.plugin);
    const double plain = Median(figure.plain);
    const double ratio = Ratio(plugin, plain);
    const int verdict = Verdict(figure.goal, plugin, ratio);
    if (verdict >= 0) ++goals;
    if (verdict == 1) ++met;
    std::printf("%-48s %-26s %-26s %7s  %-16s %s\n", figure.name.c_str(),
                Summary(figure.plugin, figure.decimals).c_str(), Summary(figure.plain, figure.decimals).c_str(),
                Format(ratio, 2).c_str(), GoalText(figure.goal).c_str(),
                verdict == 1 ? "goal met" : verdict == 0 ? "goal missed" : "-");
  }
  for (const std::string& note : notes) std::printf("%s\n", note.c_str());
  std::printf("%d of %d goals met\n", met, goals);
  std::fflush(stdout);
}

}  // namespace bench
