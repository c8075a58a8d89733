// Stand-in for the sing-box proxy: accepts exactly "run -c CONFIG" and behaves
// as the host expects a sing-box to (output on both streams, exit rules),
// scripted by an optional "standin" object in the configuration (see
// standin_script.h). Without one it writes a few start-up lines and runs until
// ended. A missing or unreadable configuration gives a FATAL line and exit 1.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "standins/sing_box/platform.h"
#include "standins/sing_box/standin_script.h"

namespace standin {
namespace {

void Write(Stream stream, const std::string& text) { WriteAll(stream, text.data(), text.size()); }

[[noreturn]] void Fatal(const std::string& message) {
  Write(Stream::kErr, "FATAL[0000] " + message + "\n");
  ExitWith(1);
}

// Writes exactly `total` bytes of 64-byte lines as fast as the pipe takes them.
void Burst(unsigned long long total) {
  constexpr size_t kLine = 64;
  constexpr size_t kLinesPerBlock = 1024;
  std::string block;
  block.reserve(kLine * kLinesPerBlock);
  for (size_t i = 0; i < kLinesPerBlock; ++i) {
    std::string line = "INFO[0000] burst line " + std::to_string(i) + " ";
    line.resize(kLine - 1, 'x');
    block += line + '\n';
  }
  while (total > 0) {
    size_t n = static_cast<size_t>(std::min<unsigned long long>(total, block.size()));
    if (!WriteAll(Stream::kOut, block.data(), n)) return;
    total -= n;
  }
}

void DefaultStartupLines() {
  Write(Stream::kOut,
        "INFO[0000] network: updated default interface eth0, index 2\n"
        "INFO[0000] inbound/tun[tun-in]: started at tun0\n"
        "INFO[0000] sing-box started (0.01s)\n");
}

// A copy started by SpawnEscapingCopy: it starts writing once its parent has
// had time to end (a parent blocked on a full pipe would not); once its reader
// is gone a write fails, and it then only waits out its time.
int LingerAsEscapedCopy(const Linger& linger) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(linger.ms);
  const std::string line = "INFO[0000] standin: escaped child still writing\n";
  if (linger.writes) SleepMilliseconds(300);
  bool writing = linger.writes;
  while (writing && std::chrono::steady_clock::now() < until) {
    writing = WriteAll(Stream::kOut, line.data(), line.size());
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  if (left.count() > 0) SleepMilliseconds(static_cast<long>(left.count()));
  return 0;
}

// Everything the script asks for at start, in the order the keys promise.
void StartScript(const std::string& config_path, const StandinScript& script) {
  std::string reason;
  if (script.report_handles) {
    std::string lines;
    for (const std::string& line : HeldHandles()) lines += line + "\n";
    if (!WriteTextFile(*script.report_handles, lines, &reason)) {
      Fatal("write " + *script.report_handles + ": " + reason);
    }
  }
  if (script.stdout_text) Write(Stream::kOut, *script.stdout_text);
  if (script.stderr_text) Write(Stream::kErr, *script.stderr_text);
  if (script.burst_bytes > 0) Burst(static_cast<unsigned long long>(script.burst_bytes));
  if (script.done_file && !NoSpawnRequested()) {
    if (!WriteTextFile(*script.done_file, "", &reason)) {
      Fatal("create " + *script.done_file + ": " + reason);
    }
  }
  if (script.spawn_child && !NoSpawnRequested()) {
    unsigned long pid = SpawnCopy(config_path, &reason);
    if (pid == 0) Fatal("start child: " + reason);
    Write(Stream::kOut, "INFO[0000] standin: started child process " + std::to_string(pid) + "\n");
  }
  if (script.escape_child_ms > 0 && !NoSpawnRequested()) {
    Linger linger{static_cast<long>(script.escape_child_ms), script.escape_child_writes};
    unsigned long pid = SpawnEscapingCopy(config_path, linger, &reason);
    if (pid == 0) Fatal("start escaping child: " + reason);
    Write(Stream::kOut, "INFO[0000] standin: started child process " + std::to_string(pid) + "\n");
  }
}

// Runs until ended, or exits by itself as "exit_after_ms" and "exit_code" say.
int FinishScript(const StandinScript& script) {
  if (!script.exit_after_ms && !script.exit_code) RunUntilEnded();
  if (script.exit_after_ms && *script.exit_after_ms > 0) {
    SleepMilliseconds(static_cast<long>(*script.exit_after_ms));
  }
  if (script.last_words) Write(Stream::kOut, *script.last_words);
  return script.exit_code ? static_cast<int>(*script.exit_code) : 0;
}

int Run(const std::vector<std::string>& args) {
  if (Linger linger = LingerRequested(); linger.ms > 0) return LingerAsEscapedCopy(linger);
  if (args.size() != 3 || args[0] != "run" || args[1] != "-c") {
    Fatal("usage: sing-box run -c CONFIG");
  }
  const std::string& config_path = args[2];
  std::string text, reason;
  if (!ReadWholeFile(config_path, &text, &reason)) {
    Fatal("read config at " + config_path + ": " + reason);
  }
  std::optional<StandinScript> script;
  if (!ReadStandinScript(text, &script, &reason)) {
    Fatal("decode config at " + config_path + ": " + reason);
  }
  if (!script) {
    DefaultStartupLines();
    RunUntilEnded();
  }
  StartScript(config_path, *script);
  return FinishScript(*script);
}

}  // namespace
}  // namespace standin

int main(int argc, char** argv) { standin::ExitWith(standin::Run(standin::Arguments(argc, argv))); }
