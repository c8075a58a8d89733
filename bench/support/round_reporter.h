// Google Benchmark's console table as usual, and one figure of every run
// kept by name, so that benchmarks registered in interleaved rounds
// ("name#round") give medians over the rounds and per-round ratios.
//
// Threads: Google Benchmark calls ReportRuns on the thread that runs the
// benchmarks; read the figures after RunSpecifiedBenchmarks returns.
#ifndef VELQA_BENCH_SUPPORT_ROUND_REPORTER_H_
#define VELQA_BENCH_SUPPORT_ROUND_REPORTER_H_

#include <functional>
#include <map>
#include <ostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

namespace velqa_bench {

class RoundReporter : public benchmark::ConsoleReporter {
 public:
  // The name a run counts for and its figure, or nullopt to pass it over.
  using Figure = std::function<std::optional<std::pair<std::string, double>>(const Run&)>;

  // No colour codes: the table often goes to a file, and the comparison
  // lines below it must start at the beginning of a line.
  explicit RoundReporter(Figure figure) : ConsoleReporter(OO_None), figure_(std::move(figure)) {}

  void ReportRuns(const std::vector<Run>& runs) override;

  // The run's function name without its "#round".
  static std::string RoundlessName(const Run& run);

  // Median figure of one name over its rounds (0 when it never ran).
  double Median(const std::string& name) const;
  // Median over the rounds of numerator / denominator, each round's pair
  // measured back to back; rounds with a zero denominator are left out.
  double MedianRatio(const std::string& numerator, const std::string& denominator) const;

 private:
  const std::vector<double>& Figures(const std::string& name) const;

  Figure figure_;
  std::map<std::string, std::vector<double>> figures_;
};

// Initialises Google Benchmark with `min_time` ("--benchmark_min_time=...")
// unless the command line gives another, registers the rounds, and runs them
// all, the table going through `reporter` to `table`.
void RunRounds(int argc, char** argv, const char* min_time, void (*register_rounds)(),
               RoundReporter& reporter, std::ostream& table);

}  // namespace velqa_bench

#endif  // VELQA_BENCH_SUPPORT_ROUND_REPORTER_H_
