#include "tests/vpn_lifecycle/lifecycle_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <utility>

#include "base/utf8_path.h"
#include "channel/method_call.h"
#include "channel/method_result.h"

namespace lifecycle_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using velqa::base::PathFromUtf8;
using velqa::base::Utf8FromPath;

class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordingResult(Reply* reply) : reply_(reply) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    ++reply_->answers;
    reply_->kind = Reply::Kind::kSuccess;
    if (result) reply_->value = *result;
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    ++reply_->answers;
    reply_->kind = Reply::Kind::kError;
    reply_->code = code;
    reply_->message = message;
    reply_->has_details = details != nullptr;
  }
  void NotImplementedInternal() override {
    ++reply_->answers;
    reply_->kind = Reply::Kind::kNotImplemented;
  }

 private:
  Reply* reply_;
};

}  // namespace

Reply Call(VpnManager& manager, const std::string& method,
           std::unique_ptr<EncodableValue> arguments) {
  Reply reply;
  flutter::MethodCall<EncodableValue> call(method, std::move(arguments));
  manager.HandleMethodCall(call, std::make_unique<RecordingResult>(&reply));
  return reply;
}

Reply StartVpn(VpnManager& manager, const std::string& config_path) {
  return Call(manager, "start_vpn",
              std::make_unique<EncodableValue>(
                  EncodableMap{{EncodableValue("config_path"), EncodableValue(config_path)}}));
}

ScratchDir::ScratchDir(const std::string& utf8_name) {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      PathFromUtf8(utf8_name + " " + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  path_ = Utf8FromPath(dir);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(PathFromUtf8(path_), ignored);
}

std::string ScratchDir::Write(const std::string& utf8_name, const std::string& text) const {
  std::filesystem::path file = PathFromUtf8(path_) / PathFromUtf8(utf8_name);
  std::ofstream out(file, std::ios::binary);
  out << text;
  return Utf8FromPath(file);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string StandinConfig(const std::string& standin_json) {
  return "{\"log\": {\"level\": \"info\"}, \"standin\": " + standin_json + "}";
}

void ScopedProcessOs::Track(std::uint32_t process_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  tracked_.insert(process_id);
}

vpn_os::ProcessResult ScopedProcessOs::StartProcess(const vpn_os::ProcessLaunch& launch) {
  vpn_os::ProcessResult result = real_.StartProcess(launch);
  if (result.ok()) Track(result.info.process_id);
  return result;
}

vpn_os::Status ScopedProcessOs::AssignProcessToJob(vpn_os::NativeHandle job,
                                                   vpn_os::NativeHandle process) {
  constexpr vpn_os::OsErrorCode kAccessDenied = 5;
  if (refuse_job_assignment_) return vpn_os::Status::Failure(kAccessDenied);
  return real_.AssignProcessToJob(job, process);
}

vpn_os::ProcessInfo ScopedProcessOs::StartStray(const std::filesystem::path& executable,
                                                const std::string& config_path) {
  // Its output goes to a pipe nobody reads; a silent stand-in writes nothing.
  vpn_os::PipeResult pipe = real_.CreateOutputPipe();
  vpn_os::HandleResult token = real_.OpenOwnProcessToken();
  vpn_os::HandleResult primary = real_.DuplicatePrimaryToken(token.handle.get());
  vpn_os::ProcessLaunch launch;
  launch.executable = executable;
  const std::string exe = Utf8FromPath(executable);
  launch.command_line = "\"" + exe + "\" run -c \"" + config_path + "\"";
  launch.argv = {exe, "run", "-c", config_path};
  launch.output = pipe.write_end.get();
  launch.token = primary.handle.get();
  return StartProcess(launch).info;
}

vpn_os::SnapshotResult ScopedProcessOs::SnapshotProcesses() {
  vpn_os::SnapshotResult all = real_.SnapshotProcesses();
  std::lock_guard<std::mutex> lock(mutex_);
  ++snapshots_;
  vpn_os::SnapshotResult mine;
  mine.ok = all.ok;
  mine.error = all.error;
  for (auto& entry : all.processes) {
    if (tracked_.count(entry.process_id)) mine.processes.push_back(std::move(entry));
  }
  return mine;
}

bool ScopedProcessOs::IsListed(std::uint32_t process_id) {
  for (const auto& entry : real_.SnapshotProcesses().processes) {
    if (entry.process_id == process_id) return true;
  }
  return false;
}

std::filesystem::path ExecutableDirectory() {
  vpn_os::PathResult path = vpn_os::PlatformOs().ExecutablePath();
  return path.path.parent_path();
}

}  // namespace lifecycle_test
