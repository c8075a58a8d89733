// How long the host takes to end after a crash that leaves the heap locked,
// against the time a clean exit takes, in the same run. Each round starts a
// copy of the bundle (its own logs folder) with a script of the stand-in
// Dart side and times from the stand-in's last event before the act ("crash
// line" or "exit sent") to the end of the process.
//
//   bench_crash [--benchmark_min_time=S]   S below 1: one round (a check)
//
// Prints one line per round and "figure crash heap_locked_to_exit MS ms",
// "figure crash clean_exit MS ms" and "ratio crash heap_locked_to_exit
// clean_exit R" (medians over the rounds).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"

namespace {

namespace fs = std::filesystem;
using velqa::e2e::AppProcess;
using velqa::e2e::ReadFileBytes;
using velqa::e2e::WriteFileBytes;

constexpr DWORD kRoundLimitMs = 120000;

// The bundle without its logs, so the dumps and records stay in the copy.
void CopyBundle(const fs::path& from, const fs::path& to) {
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const fs::path relative = fs::relative(entry.path(), from);
    if (*relative.begin() == L"logs") continue;
    if (entry.is_directory()) {
      fs::create_directories(to / relative);
    } else {
      fs::create_directories((to / relative).parent_path());
      fs::copy_file(entry.path(), to / relative);
    }
  }
}

// Milliseconds from `event` appearing in the events file to the end of the
// process; nullopt when the round failed.
std::optional<double> TimeRound(const fs::path& bundle, const fs::path& work,
                                const std::string& script, const std::string& event) {
  const fs::path script_path = work / L"round.dart-script";
  const fs::path events = work / L"events.txt";
  WriteFileBytes(script_path, script);
  std::error_code ignored;
  fs::remove(events, ignored);
  AppProcess app;
  if (!app.Start(bundle / L"velqa_assistant.exe",
                 {L"--dart-script", script_path.wstring(), L"--dart-events", events.wstring()},
                 work)) {
    return std::nullopt;
  }
  LARGE_INTEGER frequency{};
  ::QueryPerformanceFrequency(&frequency);
  std::optional<LONGLONG> seen;
  const ULONGLONG deadline = ::GetTickCount64() + kRoundLimitMs;
  while (::GetTickCount64() < deadline) {
    const bool ended = ::WaitForSingleObject(app.handle(), 2) == WAIT_OBJECT_0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    if (!seen && ReadFileBytes(events).find(event) != std::string::npos) seen = now.QuadPart;
    if (ended) {
      if (!seen) return std::nullopt;
      return static_cast<double>(now.QuadPart - *seen) * 1000.0 /
             static_cast<double>(frequency.QuadPart);
    }
  }
  return std::nullopt;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

int Rounds(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    const std::wstring prefix = L"--benchmark_min_time=";
    if (argument.starts_with(prefix) && std::wcstod(argument.c_str() + prefix.size(), nullptr) < 1) {
      return 1;
    }
  }
  return 5;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const fs::path source = velqa::e2e::BundleDirectory();
  if (!fs::exists(source / L"velqa_assistant.exe")) {
    std::fprintf(stderr, "bench_crash: no bundle at %s\n", velqa::e2e::Utf8(source).c_str());
    return 1;
  }
  const velqa::e2e::TempDirectory work(L"velqa_bench_crash_");
  const fs::path bundle = work.path() / L"bundle";
  CopyBundle(source, bundle);

  std::vector<double> crashes;
  std::vector<double> exits;
  std::printf("%-6s %22s %14s\n", "round", "heap_locked_to_exit_ms", "clean_exit_ms");
  for (int round = 1, rounds = Rounds(argc, argv); round <= rounds; ++round) {
    const std::optional<double> crash =
        TimeRound(bundle, work.path(), "crash heap-locked\n", "crash line");
    const std::optional<double> exit = TimeRound(bundle, work.path(), "exit\n", "exit sent");
    if (!crash || !exit) {
      std::printf("round %d failed: the host did not end, or never reached the act\n", round);
      return 1;
    }
    crashes.push_back(*crash);
    exits.push_back(*exit);
    std::printf("%-6d %22.0f %14.0f\n", round, *crash, *exit);
    std::fflush(stdout);
  }
  const double crash = Median(crashes);
  const double exit = Median(exits);
  std::printf("figure crash heap_locked_to_exit %.0f ms\n", crash);
  std::printf("figure crash clean_exit %.0f ms\n", exit);
  std::printf("ratio crash heap_locked_to_exit clean_exit %.2f\n", exit > 0 ? crash / exit : 0.0);
  return 0;
}
