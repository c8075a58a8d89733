// An OS interface that hands every call on to another one (the platform's by
// default). Tests and benchmarks derive from it and override only the calls
// they change: relocating the executable, listing only their own processes,
// timing the waits.
//
// Threads: as thread-safe as the target it forwards to.
#ifndef VELQA_TESTS_SUPPORT_FORWARDING_VPN_OS_H_
#define VELQA_TESTS_SUPPORT_FORWARDING_VPN_OS_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include "vpn/os/vpn_os.h"

namespace vpn_test_support {

class ForwardingVpnOs : public vpn_os::VpnOs {
 public:
  explicit ForwardingVpnOs(vpn_os::VpnOs& target = vpn_os::PlatformOs()) : real_(target) {}

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
  vpn_os::Status TerminateJob(vpn_os::NativeHandle job, std::uint32_t exit_code) override {
    return real_.TerminateJob(job, exit_code);
  }

  vpn_os::PipeResult CreateOutputPipe() override { return real_.CreateOutputPipe(); }
  vpn_os::ReadResult Read(vpn_os::NativeHandle pipe, std::span<char> buffer,
                          vpn_os::ReadCancellation* cancellation) override {
    return real_.Read(pipe, buffer, cancellation);
  }
  std::unique_ptr<vpn_os::ReadCancellation> CreateReadCancellation() override {
    return real_.CreateReadCancellation();
  }
  vpn_os::ReadResult ReadWithTimeout(vpn_os::NativeHandle pipe, std::span<char> buffer,
                                     vpn_os::ReadCancellation* cancellation,
                                     std::chrono::milliseconds timeout) override {
    return real_.ReadWithTimeout(pipe, buffer, cancellation, timeout);
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
  vpn_os::Status ResumeProcess(vpn_os::NativeHandle thread) override {
    return real_.ResumeProcess(thread);
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
  vpn_os::ImageNameResult ProcessImageName(vpn_os::NativeHandle process) override {
    return real_.ProcessImageName(process);
  }
  vpn_os::SnapshotResult SnapshotProcesses() override { return real_.SnapshotProcesses(); }

  vpn_os::ModuleResult LoadModule(const std::filesystem::path& path) override {
    return real_.LoadModule(path);
  }

  vpn_os::PathResult ExecutablePath() override { return real_.ExecutablePath(); }
  std::uint16_t NativeArchitecture() override { return real_.NativeArchitecture(); }
  std::uint16_t ProcessArchitecture() override { return real_.ProcessArchitecture(); }
  vpn_os::PathExistsResult PathExists(const std::filesystem::path& path) override {
    return real_.PathExists(path);
  }
  void Sleep(std::chrono::milliseconds duration) override { real_.Sleep(duration); }

 protected:
  vpn_os::VpnOs& real_;
};

}  // namespace vpn_test_support

#endif  // VELQA_TESTS_SUPPORT_FORWARDING_VPN_OS_H_
