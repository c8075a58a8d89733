// Stand-in for the sing-box proxy: accepts exactly "run -c CONFIG" and behaves
// as the host expects a sing-box to (output on both streams, exit rules),
// scripted by an optional "standin" object in the configuration:
//   "stdout", "stderr"   text written once at start, in that order
//   "burst_bytes"        that many bytes of line-structured output at start
//   "report_handles"     a file that receives, before anything else happens,
//                        what the process holds of files, pipes and devices
//                        (one line each, see HeldHandles)
//   "done_file"          a file created once the above is written (tells a
//                        test that the reader has taken everything)
//   "spawn_child"        true: start one more copy (same configuration, this
//                        key ignored) that keeps running
//   "escape_child_ms"    start one more copy that leaves the job (Linux: its
//                        own session), holds the output open and ends after
//                        that many milliseconds
//   "escape_child_writes" true: that copy writes lines without pause from
//                        300 ms after its start
//   "exit_after_ms",
//   "exit_code"          exit by itself (either key; defaults 0); otherwise
//                        run until ended
//   "last_words"         text written just before exiting by itself
//   "silent"             accepted for readability; an object without output
//                        keys writes nothing anyway
// Without a "standin" object it writes a few start-up lines and runs until
// ended. A missing or unreadable configuration gives a FATAL line and exit 1.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "standins/sing_box/mini_json.h"
#include "standins/sing_box/platform.h"

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

int Run(const std::vector<std::string>& args) {
  if (Linger linger = LingerRequested(); linger.ms > 0) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(linger.ms);
    const std::string line = "INFO[0000] standin: escaped child still writing\n";
    // It starts writing once its parent has had time to end (a parent
    // blocked on a full pipe would not); once its reader is gone a write
    // fails, and it then only waits.
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
  if (args.size() != 3 || args[0] != "run" || args[1] != "-c") {
    Fatal("usage: sing-box run -c CONFIG");
  }
  const std::string& config_path = args[2];
  std::string text, reason;
  if (!ReadWholeFile(config_path, &text, &reason)) {
    Fatal("read config at " + config_path + ": " + reason);
  }
  std::optional<JsonValue> config = ParseJson(text, &reason);
  if (!config) Fatal("decode config at " + config_path + ": " + reason);

  const JsonValue* script = config->Find("standin");
  if (script == nullptr || script->kind != JsonValue::Kind::kObject) {
    DefaultStartupLines();
    RunUntilEnded();
  }
  if (const JsonValue* report = script->Find("report_handles")) {
    std::string lines;
    for (const std::string& line : HeldHandles()) lines += line + "\n";
    if (!WriteTextFile(report->text, lines, &reason))
      Fatal("write " + report->text + ": " + reason);
  }
  if (const JsonValue* out = script->Find("stdout")) Write(Stream::kOut, out->text);
  if (const JsonValue* err = script->Find("stderr")) Write(Stream::kErr, err->text);
  if (const JsonValue* burst = script->Find("burst_bytes"); burst && burst->number > 0) {
    Burst(static_cast<unsigned long long>(burst->number));
  }
  if (const JsonValue* done = script->Find("done_file"); done && !NoSpawnRequested()) {
    if (!WriteTextFile(done->text, "", &reason)) Fatal("create " + done->text + ": " + reason);
  }
  if (const JsonValue* spawn = script->Find("spawn_child");
      spawn && spawn->boolean && !NoSpawnRequested()) {
    unsigned long pid = SpawnCopy(config_path, &reason);
    if (pid == 0) Fatal("start child: " + reason);
    Write(Stream::kOut, "INFO[0000] standin: started child process " + std::to_string(pid) + "\n");
  }
  if (const JsonValue* escape = script->Find("escape_child_ms");
      escape && escape->number > 0 && !NoSpawnRequested()) {
    const JsonValue* writes = script->Find("escape_child_writes");
    Linger linger{static_cast<long>(escape->number), writes != nullptr && writes->boolean};
    unsigned long pid = SpawnEscapingCopy(config_path, linger, &reason);
    if (pid == 0) Fatal("start escaping child: " + reason);
    Write(Stream::kOut, "INFO[0000] standin: started child process " + std::to_string(pid) + "\n");
  }
  const JsonValue* exit_after = script->Find("exit_after_ms");
  const JsonValue* exit_code = script->Find("exit_code");
  if (exit_after == nullptr && exit_code == nullptr) RunUntilEnded();
  if (exit_after != nullptr && exit_after->number > 0) {
    SleepMilliseconds(static_cast<long>(exit_after->number));
  }
  if (const JsonValue* last = script->Find("last_words")) Write(Stream::kOut, last->text);
  return exit_code != nullptr ? static_cast<int>(exit_code->number) : 0;
}

}  // namespace
}  // namespace standin

int main(int argc, char** argv) { standin::ExitWith(standin::Run(standin::Arguments(argc, argv))); }
