// A soak of the sing-box lifecycle: many cycles of the kinds the Dart side
// causes, fast ones (a child that exits after 50 ms as in a crash loop, a
// configuration that does not exist, status and WinTun probes) mixed with
// full ones that pay the one-second stability wait (start and stop, restart
// while running, stop with a descendant). Every answer and every event is
// checked. Before, between and after, the process's open handles, threads
// and private memory are counted; what a cycle leaks shows as a delta.
//
// Usage: bench_soak [CYCLES [FULL_EVERY]] (default 1000 cycles, every 10th
// full). A --benchmark_min_time below 0.1 (the release check) runs a short
// soak. Prints "figure soak handles_delta N", "figure soak threads_delta N",
// "figure soak memory_delta_kib N", "figure soak cycles N",
// "figure soak full_cycles N" and, measured after the cycles, the time from a
// child's end by itself to its "exited" event on the platform thread
// ("figure soak exit_event_latency_ms", and with a process the child started
// still holding its output, "exit_event_latency_output_held_ms"); exits with
// 1 when an answer, an event or a counter is wrong or a sing-box is left running.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utf8_path.h"
#include "bench/soak/process_counters.h"
#include "channel/binary_messenger.h"
#include "channel/standard_method_codec.h"
#include "tests/support/build_layout.h"
#include "tests/support/process_probe.h"
#include "tests/support/quiet_stdout.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/standin_config.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "vpn/vpn_events.h"
#include "vpn/vpn_manager.h"

namespace {

using flutter::EncodableValue;
using vpn_test::Answer;
using velqa_bench::ProcessCounts;

// The Dart side of the event channel: it listens and counts what it hears.
class EventCounter : public flutter::BinaryMessenger {
 public:
  void Send(const std::string& channel, const uint8_t* message, size_t size,
            flutter::BinaryReply) override {
    if (channel != velqa::vpn::VpnEvents::kChannelName || message == nullptr || size < 2) {
      ++wrong;
      return;
    }
    // By the keys each kind has: an exited event's output may say anything.
    const std::string text(reinterpret_cast<const char*>(message), size);
    if (text.find("exit_code") != std::string::npos) ++exited;
    else if (text.find("pid") != std::string::npos) ++started;
    else if (text.find("stopped") != std::string::npos) ++stopped;
    else ++wrong;
  }
  void SetMessageHandler(const std::string&, flutter::BinaryMessageHandler handler) override {
    handler_ = std::move(handler);
  }
  void Listen() {
    const auto call = flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
        flutter::MethodCall<>("listen", nullptr));
    handler_(call->data(), call->size(), [](const uint8_t*, size_t) {});
  }

  long started = 0, stopped = 0, exited = 0, wrong = 0;

 private:
  flutter::BinaryMessageHandler handler_;
};

class Soak {
 public:
  Soak() {
    healthy_ = scratch_.Write("healthy.json", vpn_test::StandinConfig(R"({"silent": true})"));
    crashing_ = scratch_.Write(
        "crashing.json",
        vpn_test::StandinConfig(R"({"stdout": "crashing\n", "exit_after_ms": 50, "exit_code": 3})"));
    parent_ = scratch_.Write("parent.json", vpn_test::StandinConfig(R"({"spawn_child": true})"));
    late_exit_ = scratch_.Write(
        "late_exit.json", vpn_test::StandinConfig(R"({"exit_after_ms": 1100, "exit_code": 5})"));
    // A process it started holds the output 400 ms past its end.
    held_exit_ = scratch_.Write(
        "held_exit.json",
        vpn_test::StandinConfig(R"({"exit_after_ms": 1100, "exit_code": 5, "escape_child_ms": 1500})"));
    missing_ = velqa::base::Utf8FromPath(scratch_.path() / "missing.json");
    manager_ = std::make_unique<VpnManager>(os_);
    manager_->RegisterEventChannel(&events_, [this] { woken_.store(true); });
    events_.Listen();
  }

  // Runs cycle `i` of its kind; false, with a line on standard error, when
  // an answer is not the one expected.
  bool Cycle(long i, long full_every) {
    if (i % full_every == 0) {
      ++full_;
      switch ((i / full_every) % 3) {
        case 0: return StartStop(healthy_);
        case 1: return Restart();
        default: return StartStop(parent_);
      }
    }
    switch (fast_++ % 4) {
      case 0: return Expect(vpn_test::StartVpn(*manager_, crashing_), "PROCESS_TERMINATED_IMMEDIATELY", "crash loop");
      case 1: return Expect(vpn_test::StartVpn(*manager_, missing_), "CONFIG_NOT_FOUND", "missing configuration");
      case 2: return ExpectValue(Call("get_vpn_status"), EncodableValue(false), "status");
      default: return WinTunProbe();
    }
  }

  // How long after a child's end by itself its "exited" event goes out on
  // this thread (the platform thread's part, as the window does it, counts).
  // Nullopt when the child did not start, end or get its event. `held`: a
  // process the child started still holds its output when it ends.
  std::optional<double> ExitEventLatencyMs(bool held) {
    if (!Start(held ? held_exit_ : late_exit_)) return std::nullopt;
    const std::uint32_t pid = VpnManagerTestPeer(*manager_).process_id();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (velqa::testing::IsProcessAlive(pid)) {
      if (std::chrono::steady_clock::now() > deadline) {
        std::fprintf(stderr, "soak: the child did not end by itself\n");
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto ended = std::chrono::steady_clock::now();
    const long exited_before = events_.exited;
    while (events_.exited == exited_before) {
      if (std::chrono::steady_clock::now() > deadline) {
        std::fprintf(stderr, "soak: no exited event came\n");
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      Deliver();
    }
    const auto told = std::chrono::steady_clock::now();
    ++expected_exits_;
    if (!ExpectNull(Call("stop_vpn"), "stop_vpn")) return std::nullopt;
    return std::chrono::duration<double, std::milli>(told - ended).count();
  }

  // The events heard match the cycles: each start a "started", each end
  // the host caused a "stopped", each end by itself an "exited", nothing else.
  bool EventsAsExpected() {
    Deliver();
    if (events_.started == expected_starts_ &&
        events_.stopped == expected_starts_ - expected_exits_ &&
        events_.exited == expected_exits_ && events_.wrong == 0) {
      return true;
    }
    std::fprintf(stderr, "soak: events started %ld stopped %ld exited %ld wrong %ld, expected %ld starts\n",
                 events_.started, events_.stopped, events_.exited, events_.wrong, expected_starts_);
    return false;
  }

  void End() { manager_.reset(); }
  long full() const { return full_; }

 private:
  Answer Call(const char* method) { return vpn_test::Call(*manager_, method); }

  // As the window does when the monitor wakes it.
  void Deliver() {
    if (woken_.exchange(false)) manager_->DeliverPendingEvents();
  }

  bool Fail(const char* what, const Answer& answer) {
    std::fprintf(stderr, "soak: %s answered kind %d %s %s\n", what, static_cast<int>(answer.kind),
                 answer.code.c_str(), answer.message.c_str());
    return false;
  }
  bool Expect(const Answer& answer, const char* code, const char* what) {
    Deliver();
    return answer.kind == Answer::Kind::kError && answer.code == code && answer.count == 1
               ? true
               : Fail(what, answer);
  }
  bool ExpectValue(const Answer& answer, const EncodableValue& value, const char* what) {
    Deliver();
    return answer.kind == Answer::Kind::kSuccess && answer.value == value && answer.count == 1
               ? true
               : Fail(what, answer);
  }
  bool ExpectNull(const Answer& answer, const char* what) {
    Deliver();
    return answer.kind == Answer::Kind::kSuccess && !answer.value && answer.count == 1
               ? true
               : Fail(what, answer);
  }
  bool WinTunProbe() {
    const Answer answer = Call("check_tun_driver");
    if (!wintun_) wintun_ = answer.value;
    return ExpectValue(answer, wintun_.value_or(EncodableValue()), "check_tun_driver");
  }
  bool Start(const std::string& config) {
    ++expected_starts_;
    return ExpectNull(vpn_test::StartVpn(*manager_, config), "start_vpn");
  }
  bool StartStop(const std::string& config) {
    return Start(config) && ExpectValue(Call("get_vpn_status"), EncodableValue(true), "status") &&
           ExpectNull(Call("stop_vpn"), "stop_vpn");
  }
  bool Restart() {
    return Start(healthy_) && Start(healthy_) && ExpectNull(Call("stop_vpn"), "stop_vpn");
  }

  vpn_test::ScopedProcessOs os_;
  vpn_test::ScratchDir scratch_{"velqa soak"};
  std::string healthy_, crashing_, parent_, missing_, late_exit_, held_exit_;
  EventCounter events_;
  std::atomic<bool> woken_{false};
  std::unique_ptr<VpnManager> manager_;
  std::optional<EncodableValue> wintun_;
  long expected_starts_ = 0;
  long expected_exits_ = 0;
  long full_ = 0;
  long fast_ = 0;  // fast cycles so far: their kinds take turns
};

void PrintCounts(const char* when, long cycle, const ProcessCounts& c) {
  std::printf("soak %s cycle %ld: handles %lld threads %lld private_kib %lld\n", when, cycle,
              static_cast<long long>(c.handles), static_cast<long long>(c.threads),
              static_cast<long long>(c.private_kib));
  std::fflush(stdout);
}

// Opens handles, a thread and memory on purpose and closes them again: each
// count must move with them and come back, so that a delta of 0 below means
// nothing leaked rather than a count that never moves.
bool CountersMove() {
  constexpr int kHandles = 8;
  constexpr std::size_t kMemory = std::size_t{8} << 20;
  const std::optional<ProcessCounts> before = velqa_bench::CountProcess();
  std::optional<ProcessCounts> during;
  {
    velqa_bench::OpenHandles handles(kHandles);
    std::mutex mutex;
    std::condition_variable release;
    bool done = false;
    std::thread waiter([&] {
      std::unique_lock<std::mutex> lock(mutex);
      release.wait(lock, [&] { return done; });
    });
    auto memory = std::make_unique<char[]>(kMemory);
    std::memset(memory.get(), 1, kMemory);
    during = velqa_bench::CountProcess();
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    release.notify_all();
    waiter.join();
  }
  const std::optional<ProcessCounts> after = velqa_bench::CountProcess();
  if (!before || !during || !after) {
    std::fprintf(stderr, "soak: the system does not count this process\n");
    return false;
  }
  const long long handles = during->handles - before->handles;
  const long long threads = during->threads - before->threads;
  const long long memory_kib = during->private_kib - before->private_kib;
  std::printf("soak probe (8 handles, 1 thread, 8192 KiB opened on purpose): handles %+lld "
              "threads %+lld private_kib %+lld; after closing them: handles %+lld threads %+lld\n",
              handles, threads, memory_kib, static_cast<long long>(after->handles - before->handles),
              static_cast<long long>(after->threads - before->threads));
  if (handles < kHandles || threads < 1 || memory_kib < 7 * 1024 ||
      after->handles != before->handles || after->threads != before->threads) {
    std::fprintf(stderr, "soak: a counter does not follow what was opened and closed\n");
    return false;
  }
  return true;
}

// Waits a moment for ended processes to leave the system's list.
int SingBoxLeft() {
  const auto executable = vpn_test::ExecutableDirectory() / "data" / "sing-box-amd64.exe";
  int left = 0;
  for (int attempt = 0; attempt < 30; ++attempt) {
    left = velqa_bench::ProcessesRunning(executable);
    if (left == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return left;
}

}  // namespace

int main(int argc, char** argv) {
  long cycles = 1000;
  long full_every = 10;
  std::vector<long> numbers;
  bool short_run = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strncmp(argument, "--benchmark_min_time=", 21) == 0) {
      short_run = std::atof(argument + 21) < 0.1;
    } else if (argument[0] != '-') {
      numbers.push_back(std::atol(argument));
    }
  }
  if (short_run) cycles = 24, full_every = 8;
  if (!numbers.empty()) cycles = numbers[0];
  if (numbers.size() > 1) full_every = numbers[1];
  if (cycles < 1 || full_every < 1) {
    std::fprintf(stderr, "usage: bench_soak [CYCLES [FULL_EVERY]]\n");
    return 2;
  }

  bool ok = CountersMove();
  const auto started_at = std::chrono::steady_clock::now();
  std::optional<ProcessCounts> before;
  std::optional<ProcessCounts> after;
  long full = 0;
  long ran = 0;
  std::vector<double> latencies[2];  // alone, with the output held
  {
    // One of each kind first, with a manager of its own: what the process
    // sets up once (the logger, the codec, the C runtime's per-thread state,
    // the lazily made kernel objects of its locks) is not a leak.
    Soak warm_up;
    vpn_test::QuietStdout quiet;
    for (long i = 0; i < 3 * full_every && ok; ++i) ok = warm_up.Cycle(i, full_every);
    warm_up.End();
  }
  // Counted without a manager at both ends: a manager's own locks may get
  // their kernel objects at any cycle (under Wine) and keep them until it goes.
  before = velqa_bench::CountProcess();
  const std::vector<std::string> handles_before = velqa_bench::DescribeHandles();
  if (before) PrintCounts("before", 0, *before);
  {
    Soak soak;
    const long checkpoint = std::max(1L, cycles / 4);
    for (long i = 0; i < cycles && ok; ++i) {
      {
        vpn_test::QuietStdout quiet;
        ok = soak.Cycle(i, full_every);
      }
      ++ran;
      if ((i + 1) % checkpoint == 0 && i + 1 < cycles) {
        if (const auto now = velqa_bench::CountProcess()) PrintCounts("at", i + 1, *now);
      }
    }
    full = soak.full();
    // Not counted as cycles: each costs more than a second.
    for (int round = 0; round < 10 && ok; ++round) {
      const bool held = round % 2 == 1;
      std::optional<double> latency;
      {
        vpn_test::QuietStdout quiet;
        latency = soak.ExitEventLatencyMs(held);
      }
      if (!latency) {
        std::fprintf(stderr, "soak: a child's end was not told\n");
        ok = false;
      } else {
        latencies[held].push_back(*latency);
      }
    }
    ok = ok && soak.EventsAsExpected();
    vpn_test::QuietStdout quiet;
    soak.End();
  }
  after = velqa_bench::CountProcess();
  if (after) PrintCounts("after", ran, *after);
  for (const std::string& handle : velqa_bench::DescribeHandles()) {
    if (std::find(handles_before.begin(), handles_before.end(), handle) == handles_before.end()) {
      // Standard output's handle changes its value with every QuietStdout.
      std::printf("soak handle opened during the cycles and still open: %s\n", handle.c_str());
    }
  }
  const int left = SingBoxLeft();
  if (left != 0) {
    std::fprintf(stderr, "soak: %d sing-box processes left running\n", left);
    ok = false;
  }
  if (!before || !after) {
    std::fprintf(stderr, "soak: the system does not count this process\n");
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_at).count();
  std::printf("figure soak cycles %ld\n", ran);
  std::printf("figure soak full_cycles %ld\n", full);
  std::printf("figure soak seconds %.1f s\n", seconds);
  std::printf("figure soak handles_delta %lld\n", static_cast<long long>(after->handles - before->handles));
  std::printf("figure soak threads_delta %lld\n", static_cast<long long>(after->threads - before->threads));
  std::printf("figure soak memory_delta_kib %lld\n",
              static_cast<long long>(after->private_kib - before->private_kib));
  for (const bool held : {false, true}) {
    std::vector<double>& measured = latencies[held];
    if (measured.empty()) continue;
    std::sort(measured.begin(), measured.end());
    std::printf("figure soak %s %.1f ms (median of %zu; worst %.1f)\n",
                held ? "exit_event_latency_output_held_ms" : "exit_event_latency_ms",
                measured[measured.size() / 2], measured.size(), measured.back());
  }
  std::printf("soak targets: handles 0, threads 0, memory under 1024 KiB, exit event within 200 ms\n");
  return ok ? 0 : 1;
}
