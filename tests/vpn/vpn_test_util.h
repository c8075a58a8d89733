// Helpers of the VPN manager tests: a result that keeps what the handler
// answered, a transcript of the log records and console lines a piece of code
// wrote, scratch folders, and an OS interface that is the real one except for
// where the executable lives and which architecture the machine reports.
#ifndef VELQA_TESTS_VPN_VPN_TEST_UTIL_H_
#define VELQA_TESTS_VPN_VPN_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_result.h"
#include "vpn/os/vpn_os.h"
#include "vpn/vpn_manager.h"

// Reaches the manager's fields (declared a friend by VpnManager).
class VpnManagerTestPeer {
 public:
  static bool WinTunLoaded(const VpnManager& manager) {
    return manager.wintun_module_.is_valid();
  }
  static bool HasChannel(const VpnManager& manager) { return manager.channel_ != nullptr; }
  // Puts a child started through `os` into the manager as start_vpn would.
  static void AdoptRunningChild(VpnManager& manager, vpn_os::ProcessInfo child,
                                vpn_os::ScopedHandle job) {
    manager.process_info_ = std::move(child);
    manager.job_object_ = std::move(job);
    manager.is_running_.store(true);
  }
  static void SetJob(VpnManager& manager, vpn_os::ScopedHandle job) {
    manager.job_object_ = std::move(job);
  }
};

namespace vpn_test {

// What one handler answered, counted so that a second answer shows.
struct Answer {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int count = 0;
  std::optional<flutter::EncodableValue> value;  // Success value, if any
  std::string code;
  std::string message;
  bool has_details = false;
};

class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordingResult(std::shared_ptr<Answer> answer) : answer_(std::move(answer)) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override;
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override;
  void NotImplementedInternal() override;

 private:
  std::shared_ptr<Answer> answer_;
};

// Calls HandleMethodCall as the channel does and returns the answer.
Answer Call(VpnManager& manager, const std::string& method,
            std::unique_ptr<flutter::EncodableValue> arguments = nullptr);

// Log records ("R: message", tag VpnManager only) and console lines
// ("C: text") that `action` wrote to standard output, in order.
std::vector<std::string> Transcript(const std::function<void()>& action);
// Only the log records ("R: ..." entries) of a transcript.
std::vector<std::string> Records(const std::vector<std::string>& transcript);

// A fresh folder below the temporary folder, removed with the object. The
// name may hold any Unicode text (given as UTF-8).
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& utf8_name);
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // Creates a file (and its folders) below the scratch folder.
  std::filesystem::path WriteFile(const std::filesystem::path& relative,
                                  const std::string& content = "x") const;

 private:
  std::filesystem::path path_;
};

// The folder of the running test executable (where the build puts the
// stand-ins: wintun/, data/, the probe program).
std::filesystem::path BinDirectory();
// File name of a program of this build ("name" + ".exe" on Windows).
std::string ProgramName(const std::string& name);

// The platform's OS interface, except for the executable's path and the
// machine's architecture, which the test chooses.
class RelocatedOs : public vpn_os::VpnOs {
 public:
  RelocatedOs(std::filesystem::path executable, std::uint16_t architecture)
      : real_(vpn_os::PlatformOs()),
        executable_(std::move(executable)),
        architecture_(architecture) {}

  vpn_os::PathResult ExecutablePath() override { return {true, executable_, 0}; }
  std::uint16_t NativeArchitecture() override { return architecture_; }

  void CloseHandle(vpn_os::NativeHandle handle) override { real_.CloseHandle(handle); }
  void ReleaseModule(vpn_os::NativeModule module) override { real_.ReleaseModule(module); }
  vpn_os::HandleResult CreateJob() override { return real_.CreateJob(); }
  vpn_os::Status ConfigureKillOnClose(vpn_os::NativeHandle job) override {
    return real_.ConfigureKillOnClose(job);
  }
  vpn_os::Status AssignProcessToJob(vpn_os::NativeHandle job,
                                    vpn_os::NativeHandle process) override {
    return real_.AssignProcessToJob(job, process);
  }
  vpn_os::PipeResult CreateOutputPipe() override { return real_.CreateOutputPipe(); }
  vpn_os::ReadResult Read(vpn_os::NativeHandle pipe, std::span<char> buffer,
                          vpn_os::ReadCancellation* cancellation) override {
    return real_.Read(pipe, buffer, cancellation);
  }
  std::unique_ptr<vpn_os::ReadCancellation> CreateReadCancellation() override {
    return real_.CreateReadCancellation();
  }
  vpn_os::HandleResult OpenOwnProcessToken() override { return real_.OpenOwnProcessToken(); }
  vpn_os::HandleResult DuplicatePrimaryToken(vpn_os::NativeHandle token) override {
    return real_.DuplicatePrimaryToken(token);
  }
  vpn_os::PrivilegeResult LookupPrivilege(std::string_view name) override {
    return real_.LookupPrivilege(name);
  }
  vpn_os::Status EnablePrivilege(vpn_os::NativeHandle token,
                                 vpn_os::PrivilegeId privilege) override {
    return real_.EnablePrivilege(token, privilege);
  }
  vpn_os::ProcessResult StartProcess(const vpn_os::ProcessLaunch& launch) override {
    return real_.StartProcess(launch);
  }
  vpn_os::ExitCodeResult GetExitCode(vpn_os::NativeHandle process) override {
    return real_.GetExitCode(process);
  }
  vpn_os::Status Terminate(vpn_os::NativeHandle process, std::uint32_t exit_code) override {
    return real_.Terminate(process, exit_code);
  }
  vpn_os::WaitResult WaitForExit(vpn_os::NativeHandle process,
                                 std::chrono::milliseconds timeout) override {
    return real_.WaitForExit(process, timeout);
  }
  vpn_os::HandleResult OpenProcessForTermination(std::uint32_t process_id) override {
    return real_.OpenProcessForTermination(process_id);
  }
  vpn_os::SnapshotResult SnapshotProcesses() override { return real_.SnapshotProcesses(); }
  vpn_os::ModuleResult LoadModule(const std::filesystem::path& path) override {
    return real_.LoadModule(path);  // released through the real one
  }
  vpn_os::PathExistsResult PathExists(const std::filesystem::path& path) override {
    return real_.PathExists(path);
  }
  void Sleep(std::chrono::milliseconds duration) override { real_.Sleep(duration); }

 private:
  vpn_os::VpnOs& real_;
  std::filesystem::path executable_;
  std::uint16_t architecture_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_VPN_TEST_UTIL_H_
