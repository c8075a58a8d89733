// Shared pieces of the lifecycle tests: calling the manager like the channel
// does and keeping its replies, stand-in configurations in a scratch folder,
// and an OS interface that lets real processes run but shows the manager only
// the processes this test started, so parallel tests never end each other's.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_
#define VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "channel/encodable_value.h"
#include "vpn/os/vpn_os.h"
#include "vpn/vpn_manager.h"

namespace lifecycle_test {

// What one handler answered.
struct Reply {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented } kind = Kind::kNone;
  int answers = 0;
  std::optional<flutter::EncodableValue> value;  // Success value, if any
  std::string code;
  std::string message;
  bool has_details = false;
};

// Sends one method call through HandleMethodCall and returns its answer.
Reply Call(VpnManager& manager, const std::string& method,
           std::unique_ptr<flutter::EncodableValue> arguments = nullptr);
// start_vpn with {"config_path": path}.
Reply StartVpn(VpnManager& manager, const std::string& config_path);

// A fresh folder below the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& utf8_name = "velqa lifecycle");
  ~ScratchDir();
  // Writes `text` to `utf8_name` inside the folder; the file's UTF-8 path.
  std::string Write(const std::string& utf8_name, const std::string& text) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;  // UTF-8
};

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// The text of a configuration with the given "standin" object (JSON).
std::string StandinConfig(const std::string& standin_json);

// The real OS, except that SnapshotProcesses lists only processes started
// through this object (and those added by Track).
class ScopedProcessOs : public vpn_os::VpnOs {
 public:
  ScopedProcessOs() : real_(vpn_os::PlatformOs()) {}

  void Track(std::uint32_t process_id);
  // Starts a stand-in copy from `executable` with `config_path`, outside any
  // job; it is listed by the snapshot. Returns its handles.
  vpn_os::ProcessInfo StartStray(const std::filesystem::path& executable,
                                 const std::string& config_path);

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
  vpn_os::ProcessResult StartProcess(const vpn_os::ProcessLaunch& launch) override;
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
  vpn_os::SnapshotResult SnapshotProcesses() override;
  vpn_os::ModuleResult LoadModule(const std::filesystem::path& path) override {
    return real_.LoadModule(path);
  }
  vpn_os::PathResult ExecutablePath() override { return real_.ExecutablePath(); }
  std::uint16_t NativeArchitecture() override { return real_.NativeArchitecture(); }
  vpn_os::PathExistsResult PathExists(const std::filesystem::path& path) override {
    return real_.PathExists(path);
  }
  void Sleep(std::chrono::milliseconds duration) override { real_.Sleep(duration); }

  // Counts of calls the tests look at.
  int snapshots() const { return snapshots_; }

  // Whether a process with this id is still listed by the system.
  bool IsListed(std::uint32_t process_id);

 private:
  vpn_os::VpnOs& real_;
  std::mutex mutex_;
  std::set<std::uint32_t> tracked_;
  int snapshots_ = 0;
};

// The folder of the test executable (where the bundle layout is built).
std::filesystem::path ExecutableDirectory();

}  // namespace lifecycle_test

#endif  // VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_
