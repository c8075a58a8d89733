// Throughput of NativeLogger writing records to its file and to standard
// output (redirected to /dev/null), flushing both after every record, from 1
// and 4 threads. Baselines in the same run: spdlog with a file sink and a
// stdout sink flushing every record, and a raw fwrite+fflush loop of
// pre-formatted lines to the same two outputs.
//
// Also, from 1 thread, the cost of a record on the calling thread while
// standard output is a full pipe that nobody reads, against the same record
// with standard output flowing (/dev/null) in the same rounds.
//
// Prints Google Benchmark's table, then
//   figure logger_<n>t records_per_second V records/s
//   ratio logger_<n>t spdlog V      (our rate / spdlog's)
//   ratio logger_<n>t raw V         (our rate / the raw loop's)
//   figure logger_blocked_stdout ns_per_record V ns
//   figure logger_free_stdout ns_per_record V ns
//   ratio logger_blocked_stdout free_stdout V

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "bench/support/round_reporter.h"
#include "bench/support/table_stream.h"
#include "logging/native_logger.h"
#include "tests/support/blocked_stdout_posix.h"

namespace fs = std::filesystem;

namespace {

constexpr char kMessage[] = "sing-box output: started tun inbound on 172.19.0.1/30, mtu 9000";
constexpr char kTag[] = "VpnManager";
// The same bytes the logger writes for one record.
constexpr char kPreformatted[] =
    "[2025-03-01 09:15:02.047] [INFO] [VpnManager] [I] "
    "sing-box output: started tun inbound on 172.19.0.1/30, mtu 9000\n";

fs::path g_out_dir;
std::shared_ptr<spdlog::logger> g_spdlog;
std::FILE* g_raw_file = nullptr;

void BM_Logger(benchmark::State& state) {
  NativeLogger& logger = NativeLogger::GetInstance();
  for (auto _ : state) logger.Info(kMessage, kTag);
  state.SetItemsProcessed(state.iterations());
}

// Standard output a pipe that is full and that nobody reads while the
// records are written; afterwards it is read until the console queue is
// empty and the earlier standard output is put back.
void BM_LoggerBlocked(benchmark::State& state) {
  vpn_test::BlockedStdout blocked;
  if (!blocked.ok()) {
    state.SkipWithError("pipe");
    return;
  }
  NativeLogger& logger = NativeLogger::GetInstance();
  for (auto _ : state) logger.Info(kMessage, kTag);
  state.SetItemsProcessed(state.iterations());
}

void BM_Spdlog(benchmark::State& state) {
  for (auto _ : state) g_spdlog->info(kMessage);
  state.SetItemsProcessed(state.iterations());
}

void BM_Raw(benchmark::State& state) {
  constexpr std::size_t kLength = sizeof kPreformatted - 1;
  for (auto _ : state) {
    std::fwrite(kPreformatted, 1, kLength, stdout);
    std::fflush(stdout);
    std::fwrite(kPreformatted, 1, kLength, g_raw_file);
    std::fflush(g_raw_file);
  }
  state.SetItemsProcessed(state.iterations());
}

constexpr int kRounds = 7;

// Rounds of the three in turn, so that the load of a shared machine, which
// drifts over seconds, weighs on all of them alike. Figures are medians over
// the rounds; ratios are medians of the per-round ratios.
void Register() {
  for (int round = 1; round <= kRounds; ++round) {
    for (int threads : {1, 4}) {
      const struct {
        const char* base;
        void (*function)(benchmark::State&);
      } entries[] = {{"logger", BM_Logger}, {"spdlog", BM_Spdlog}, {"raw", BM_Raw}};
      for (const auto& [base, function] : entries) {
        std::string name(base);
        name += '#';
        name += std::to_string(round);
        benchmark::RegisterBenchmark(name.c_str(), function)->Threads(threads)->UseRealTime();
      }
    }
    const std::string blocked = "blocked#" + std::to_string(round);
    benchmark::RegisterBenchmark(blocked.c_str(), BM_LoggerBlocked)->Threads(1)->UseRealTime();
  }
}

// Records/s of every repetition: "logger#3" run with 4 threads counts for
// "logger/4".
std::optional<std::pair<std::string, double>> RecordsPerSecond(
    const benchmark::BenchmarkReporter::Run& run) {
  const auto it = run.counters.find("items_per_second");
  if (it == run.counters.end()) return std::nullopt;
  return std::make_pair(
      velqa_bench::RoundReporter::RoundlessName(run) + '/' + std::to_string(run.threads),
      it->second.value);
}

std::string RunName(const char* base, int threads) {
  std::string name(base);
  name += '/';
  name += std::to_string(threads);
  return name;
}

// The three writers: our logger beside the executable, spdlog and the raw
// file in the output directory.
bool OpenWriters() {
  if (!NativeLogger::GetInstance().Initialize()) return false;
  auto file_sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
      (g_out_dir / "spdlog.log").string(), true);
  auto stdout_sink = std::make_shared<spdlog::sinks::stdout_sink_mt>();
  g_spdlog =
      std::make_shared<spdlog::logger>(kTag, spdlog::sinks_init_list{stdout_sink, file_sink});
  g_spdlog->set_pattern("[%Y-%m-%d %H:%M:%S.%e] [INFO] [%n] [I] %v");
  g_spdlog->flush_on(spdlog::level::trace);
  g_raw_file = std::fopen((g_out_dir / "raw.log").c_str(), "a");
  if (g_raw_file == nullptr) return false;
  return true;
}

void PrintComparisons(const velqa_bench::RoundReporter& reporter, std::ostream& table) {
  for (int threads : {1, 4}) {
    const std::string bench = "logger_" + std::to_string(threads) + "t";
    const double ours = reporter.Median(RunName("logger", threads));
    const double spd = reporter.Median(RunName("spdlog", threads));
    const double raw = reporter.Median(RunName("raw", threads));
    table << "figure " << bench << " records_per_second " << static_cast<long long>(ours)
          << " records/s\n";
    table << "figure spdlog_" << threads << "t records_per_second " << static_cast<long long>(spd)
          << " records/s\n";
    table << "figure raw_" << threads << "t records_per_second " << static_cast<long long>(raw)
          << " records/s\n";
    table << "ratio " << bench << " spdlog "
          << reporter.MedianRatio(RunName("logger", threads), RunName("spdlog", threads)) << "\n";
    table << "ratio " << bench << " raw "
          << reporter.MedianRatio(RunName("logger", threads), RunName("raw", threads)) << "\n";
  }
  const double blocked = reporter.Median(RunName("blocked", 1));
  const double free = reporter.Median(RunName("logger", 1));
  table << "figure logger_blocked_stdout ns_per_record "
        << (blocked > 0 ? static_cast<long long>(1e9 / blocked) : 0) << " ns\n";
  table << "figure logger_free_stdout ns_per_record "
        << (free > 0 ? static_cast<long long>(1e9 / free) : 0) << " ns\n";
  // Time per record blocked over time per record flowing.
  table << "ratio logger_blocked_stdout free_stdout "
        << reporter.MedianRatio(RunName("logger", 1), RunName("blocked", 1)) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  // The table goes to the real standard output; the records' standard output
  // goes to /dev/null.
  velqa_bench::TableStream table;
  if (!table.ready()) return 1;

  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  g_out_dir = bin / "bench_logger_out";
  fs::remove_all(g_out_dir);
  fs::remove_all(bin / "logs");  // the logger's own directory beside the executable
  fs::create_directories(g_out_dir);

  if (!OpenWriters()) return 1;

  velqa_bench::RoundReporter reporter(RecordsPerSecond);
  velqa_bench::RunRounds(argc, argv, "--benchmark_min_time=0.5", Register, reporter, table);

  PrintComparisons(reporter, table);
  table.flush();

  std::fclose(g_raw_file);
  g_spdlog.reset();
  std::error_code ignored;
  fs::remove_all(g_out_dir, ignored);
  // The logger's file stays open until exit; removing the directory is fine on POSIX.
  fs::remove_all(bin / "logs", ignored);
  return 0;
}
