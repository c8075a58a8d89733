#include "bench/support/round_reporter.h"

#include <algorithm>
#include <iostream>
#include <string>

namespace velqa_bench {
namespace {

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

void RoundReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    if (auto figure = figure_(run)) figures_[figure->first].push_back(figure->second);
  }
}

std::string RoundReporter::RoundlessName(const Run& run) {
  const std::string& full = run.run_name.function_name;
  return full.substr(0, full.find('#'));
}

double RoundReporter::Median(const std::string& name) const { return MedianOf(Figures(name)); }

double RoundReporter::MedianRatio(const std::string& numerator,
                                  const std::string& denominator) const {
  const std::vector<double>& a = Figures(numerator);
  const std::vector<double>& b = Figures(denominator);
  std::vector<double> ratios;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (b[i] > 0) ratios.push_back(a[i] / b[i]);
  }
  return MedianOf(ratios);
}

const std::vector<double>& RoundReporter::Figures(const std::string& name) const {
  static const std::vector<double> kNone;
  const auto it = figures_.find(name);
  return it == figures_.end() ? kNone : it->second;
}

void RunRounds(int argc, char** argv, const char* min_time, void (*register_rounds)(),
               RoundReporter& reporter, std::ostream& table) {
  // Given first, so that the command line's own value, later, wins.
  std::string min_time_arg(min_time);
  std::vector<char*> args(argv, argv + argc);
  args.insert(args.begin() + 1, min_time_arg.data());
  int arg_count = static_cast<int>(args.size());
  benchmark::Initialize(&arg_count, args.data());
  register_rounds();
  reporter.SetOutputStream(&table);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}

}  // namespace velqa_bench
