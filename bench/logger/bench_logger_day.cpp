// Cost of the record that begins a new local day (the day's file opened, the
// previous one closed, a notice naming it, a cleanup pass asked for) beside
// the record that triggers a normal rotation at 50 MiB (the file renamed and
// reopened, its notice, a cleanup pass asked for), measured in the same run.
// Only the triggering record is timed; setting the stage (clock, filler
// records, a sparse 50 MiB file) and the cleanup pass, which runs on the
// logger's own thread, are not. Records go to /dev/null and to a scratch
// folder.
//
// Prints Google Benchmark's table, then
//   figure day_change_record time_per_record V us
//   figure rotation_record time_per_record V us
//   ratio day_change_record rotation_record V   (target: at most 1)
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/utf8_path.h"
#include "bench/support/round_reporter.h"
#include "bench/support/table_stream.h"
#include "logging/log_environment.h"
#include "tests/logging/native_logger_test_peer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kMessage[] = "sing-box output: started tun inbound on 172.19.0.1/30, mtu 9000";
constexpr char kTag[] = "VpnManager";
constexpr std::uintmax_t kPastRotationThreshold = 52'428'801;

fs::path g_root;

// A logger writing below its own scratch install directory, on a clock the
// benchmark moves; its folder starts empty.
struct BenchLogger {
  explicit BenchLogger(const std::string& name)
      : install(g_root / name),
        now(std::make_shared<std::atomic<std::chrono::system_clock::time_point>>(
            std::chrono::system_clock::from_time_t(1'740'816'902))) {  // 2025-03-01 around 09:15
    fs::remove_all(install);
    fs::create_directories(install);
    velqa::logging::LogEnvironment environment;
    environment.now = [clock = now] { return clock->load(); };
    environment.install_directory = [text = velqa::base::Utf8FromPath(install)] { return text; };
    logger = NativeLoggerTestPeer::Create(std::move(environment));
    ready = logger->Initialize();
  }
  ~BenchLogger() {
    logger.reset();
    std::error_code ignored;
    fs::remove_all(install, ignored);
  }
  fs::path Current() const {
    return velqa::base::PathFromUtf8(NativeLoggerTestPeer::LogFilePath(*logger));
  }
  // Every file of the folder but the one being written goes, so that each
  // cleanup pass walks the same small folder.
  void ClearFolder() {
    NativeLoggerTestPeer::WaitForCleanup(*logger);
    const fs::path current = Current();
    for (const auto& entry : fs::directory_iterator(install / "logs")) {
      if (entry.path() != current) fs::remove(entry.path());
    }
  }
  // Fillers until the next record is number `next` modulo 100 (0: checked).
  void FillUntilNext(int next) {
    while ((NativeLoggerTestPeer::RecordCount(*logger) + 1) % 100 != next) {
      logger->Info(kMessage, kTag);
    }
  }

  fs::path install;
  std::shared_ptr<std::atomic<std::chrono::system_clock::time_point>> now;
  std::unique_ptr<NativeLogger> logger;
  bool ready = false;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_DayChangeRecord(benchmark::State& state) {
  BenchLogger bench("day_change");
  if (!bench.ready) return state.SkipWithError("logger did not start");
  for (auto _ : state) {
    // Neither the notice nor the record falls on a size check.
    bench.FillUntilNext(10);
    bench.now->store(bench.now->load() + std::chrono::hours(24));
    const auto start = Clock::now();
    bench.logger->Info(kMessage, kTag);
    state.SetIterationTime(Seconds(Clock::now() - start));
    bench.ClearFolder();
  }
}

void BM_RotationRecord(benchmark::State& state) {
  BenchLogger bench("rotation");
  if (!bench.ready) return state.SkipWithError("logger did not start");
  for (auto _ : state) {
    bench.FillUntilNext(0);
    fs::resize_file(bench.Current(), kPastRotationThreshold);  // sparse
    const auto start = Clock::now();
    bench.logger->Info(kMessage, kTag);
    state.SetIterationTime(Seconds(Clock::now() - start));
    bench.ClearFolder();
  }
}

constexpr int kRounds = 7;

// Rounds of the two in turn, so that the drifting load of a shared machine
// weighs on both alike.
void Register() {
  for (int round = 1; round <= kRounds; ++round) {
    const struct {
      const char* base;
      void (*function)(benchmark::State&);
    } entries[] = {{"day_change_record", BM_DayChangeRecord},
                   {"rotation_record", BM_RotationRecord}};
    for (const auto& [base, function] : entries) {
      const std::string name = std::string(base) + '#' + std::to_string(round);
      benchmark::RegisterBenchmark(name.c_str(), function)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// Microseconds per triggering record.
std::optional<std::pair<std::string, double>> MicrosPerRecord(
    const benchmark::BenchmarkReporter::Run& run) {
  if (run.iterations == 0) return std::nullopt;
  return std::make_pair(velqa_bench::RoundReporter::RoundlessName(run),
                        run.real_accumulated_time * 1e6 / static_cast<double>(run.iterations));
}

}  // namespace

int main(int argc, char** argv) {
  velqa_bench::TableStream table;
  if (!table.ready()) return 1;

  g_root = fs::temp_directory_path() / "velqa_bench_logger_day";
  fs::remove_all(g_root);

  velqa_bench::RoundReporter reporter(MicrosPerRecord);
  velqa_bench::RunRounds(argc, argv, "--benchmark_min_time=0.3", Register, reporter, table);

  table << "figure day_change_record time_per_record " << reporter.Median("day_change_record")
        << " us\n";
  table << "figure rotation_record time_per_record " << reporter.Median("rotation_record")
        << " us\n";
  table << "ratio day_change_record rotation_record "
        << reporter.MedianRatio("day_change_record", "rotation_record") << "\n";
  table.flush();

  std::error_code ignored;
  fs::remove_all(g_root, ignored);
  return 0;
}
