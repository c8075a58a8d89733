#include "standins/flutter_windows/dart_side_win.h"

#include "base/stderr_line.h"
#include "base/utf8_path.h"
#include "standins/flutter_windows/engine_win.h"
#include "standins/flutter_windows/files_win.h"
#include "standins/flutter_windows/host_crash_win.h"
#include "standins/flutter_windows/panel_view_win.h"
#include "standins/flutter_windows/value_text.h"

namespace velqa::standin {
namespace {

constexpr WPARAM kTrayExitCommand = 1001;

void ReportScriptError(const std::string& what) {
  base::WriteStderrLine("flutter_windows stand-in: dart script ", what);
}

}  // namespace

DartSide::DartSide(Engine& engine, PanelView& panel) : engine_(engine), panel_(panel) {
  engine_.messenger()->SetDartListener(
      [this](const std::string& channel, const std::vector<uint8_t>& message, bool off_thread) {
        OnHostMessage(channel, message, off_thread);
      });
}

void DartSide::OnEngineStarted() {
  const std::string& out = engine_.options().args_out;
  if (out.empty()) return;
  std::string text;
  for (const std::string& argument : engine_.arguments()) {
    text += ToHex(reinterpret_cast<const uint8_t*>(argument.data()), argument.size()) + "\n";
  }
  if (!WriteWholeFile(base::PathFromUtf8(out), text)) ReportScriptError("cannot write " + out);
}

void DartSide::OnFirstFrame() {
  if (started_) return;
  started_ = true;
  const std::string& path = engine_.options().script;
  if (path.empty()) return;
  std::optional<std::string> text = ReadWholeFile(base::PathFromUtf8(path));
  if (!text) {
    ReportScriptError("cannot read " + path);
    engine_.events().Write("script unreadable");
    return;
  }
  std::string error;
  std::optional<std::vector<ScriptStep>> steps = ParseDartScript(*text, &error);
  if (!steps) {
    ReportScriptError(error);
    engine_.events().Write("script rejected: " + error);
    return;
  }
  steps_ = std::move(*steps);
  engine_.events().Write("script started");
  RunNextStep();
}

void DartSide::OnButton(const std::string& method, const std::string& config_path) {
  std::string json;
  if (method == "start_vpn") {
    // The path goes through the JSON parser, so quote and escape it.
    json = "{\"config_path\":\"";
    for (char c : config_path) {
      if (c == '"' || c == '\\') json += '\\';
      json += c;
    }
    json += "\"}";
  }
  std::string error;
  std::optional<std::vector<uint8_t>> message = EncodeScriptCall(method, json, &error);
  if (message) Send(method, *message, false);
}

void DartSide::RunNextStep() {
  while (next_step_ < steps_.size()) {
    const ScriptStep& step = steps_[next_step_++];
    switch (step.kind) {
      case ScriptStep::Kind::kSend:
        Send(step);
        return;  // continues when the answer arrives
      case ScriptStep::Kind::kSleep:
        engine_.tasks().PostDelayed(step.milliseconds, [this] { RunNextStep(); });
        return;
      case ScriptStep::Kind::kExit:
        engine_.events().Write("exit sent");
        PostMessageW(TopLevelWindow(), WM_COMMAND, kTrayExitCommand, 0);
        break;
      case ScriptStep::Kind::kClose:
        engine_.events().Write("close sent");
        PostMessageW(TopLevelWindow(), WM_CLOSE, 0, 0);
        break;
      case ScriptStep::Kind::kCrash:
        engine_.events().Write(std::string("crash line ") + std::to_string(step.line) +
                               (step.on_worker ? " worker" : ""));
        CrashHost(step.crash, step.on_worker);
        break;
    }
  }
  engine_.events().Write("script done");
}

void DartSide::Send(const std::string& label, const std::vector<uint8_t>& message,
                    bool from_script) {
  engine_.messenger()->DeliverToHost(
      kVpnChannel, message, [this, label, from_script](const std::vector<uint8_t>& answer) {
        Record(label, answer);
        if (from_script) RunNextStep();
      });
}

void DartSide::Send(const ScriptStep& step) {
  if (step.channel.empty()) {
    Send(step.method, step.message, true);
    return;
  }
  engine_.messenger()->DeliverToHost(
      step.channel, step.message,
      [this, channel = step.channel, kind = step.method](const std::vector<uint8_t>& answer) {
        Record(kind, answer);
        RecordStream(channel, kind, answer);
        RunNextStep();
      });
}

void DartSide::OnHostMessage(const std::string& channel, const std::vector<uint8_t>& message,
                             bool off_platform_thread) {
  if (off_platform_thread) {
    // The real embedding takes messages only on the platform thread.
    ReportScriptError("saw a host message off the platform thread on " + channel);
    engine_.events().Write("fault: host message off the platform thread on " + channel);
  }
  RecordStream(channel, "event", message);
}

void DartSide::RecordStream(const std::string& channel, const std::string& kind,
                            const std::vector<uint8_t>& message) {
  const std::string& path = engine_.options().streams;
  if (path.empty()) return;
  std::string line = channel + "\t" + kind + "\t" + ToHex(message.data(), message.size()) + "\t" +
                     DescribeReply(message.data(), message.size()) + "\n";
  if (!AppendToFile(base::PathFromUtf8(path), line)) ReportScriptError("cannot write " + path);
}

void DartSide::Record(const std::string& label, const std::vector<uint8_t>& answer) {
  std::string readable = DescribeReply(answer.data(), answer.size());
  panel_.AddAnswer(label + ": " + readable);
  const std::string& path = engine_.options().replies;
  if (path.empty()) return;
  std::string line = label + "\t" + ToHex(answer.data(), answer.size()) + "\t" + readable + "\n";
  if (!AppendToFile(base::PathFromUtf8(path), line)) ReportScriptError("cannot write " + path);
}

HWND DartSide::TopLevelWindow() const { return GetAncestor(panel_.window(), GA_ROOT); }

}  // namespace velqa::standin
