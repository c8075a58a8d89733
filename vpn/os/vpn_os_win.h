// The Windows implementation of VpnOs, declared for the files that define it
// by concern: vpn_os_win.cpp (handles, tokens, libraries, files, the
// machine), processes_win.cpp (jobs, starting and ending processes) and
// output_pipe_win.cpp (the output pipe and its reads). A NativeHandle is the
// HANDLE, a NativeModule the HMODULE. Internal to vpn/os.
//
// Threads: as VpnOs.
#ifndef VELQA_VPN_OS_VPN_OS_WIN_H_
#define VELQA_VPN_OS_VPN_OS_WIN_H_

#include <windows.h>

#include "base/utf16_text.h"
#include "base/win_resources_win.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

inline HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline NativeHandle FromHandle(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// The implementation's own handles (snapshot, a thread handle) and its text
// conversion come from the shared base.
using velqa::base::UniqueHandle;
using velqa::base::Utf8FromWide;
using velqa::base::WideFromUtf8;

class WinVpnOs final : public VpnOs {
 public:
  // --- vpn_os_win.cpp: handles, tokens, libraries, files, the machine ---
  void CloseHandle(NativeHandle handle) override;
  void ReleaseModule(NativeModule module) override;
  HandleResult OpenOwnProcessToken() override;
  HandleResult DuplicatePrimaryToken(NativeHandle token) override;
  PrivilegeResult LookupPrivilege(std::string_view name) override;
  Status EnablePrivilege(NativeHandle token, PrivilegeId privilege) override;
  ModuleResult LoadModule(const std::filesystem::path& path) override;
  PathResult ExecutablePath() override;
  std::uint16_t NativeArchitecture() override;
  PathExistsResult PathExists(const std::filesystem::path& path) override;
  void Sleep(std::chrono::milliseconds duration) override;

  // --- processes_win.cpp: the job and the processes ---
  HandleResult CreateJob() override;
  Status ConfigureKillOnClose(NativeHandle job) override;
  Status AssignProcessToJob(NativeHandle job, NativeHandle process) override;
  Status TerminateJob(NativeHandle job, std::uint32_t exit_code) override;
  ProcessResult StartProcess(const ProcessLaunch& launch) override;
  Status ResumeProcess(NativeHandle thread) override;
  ExitCodeResult GetExitCode(NativeHandle process) override;
  Status Terminate(NativeHandle process, std::uint32_t exit_code) override;
  WaitResult WaitForExit(NativeHandle process, std::chrono::milliseconds timeout) override;
  HandleResult OpenProcessForTermination(std::uint32_t process_id) override;
  ImageNameResult ProcessImageName(NativeHandle process) override;
  SnapshotResult SnapshotProcesses() override;

  // --- output_pipe_win.cpp: the output pipe ---
  PipeResult CreateOutputPipe() override;
  ReadResult Read(NativeHandle pipe, std::span<char> buffer,
                  ReadCancellation* cancellation) override;
  std::unique_ptr<ReadCancellation> CreateReadCancellation() override;
  ReadResult ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                             ReadCancellation* cancellation,
                             std::chrono::milliseconds timeout) override;

 private:
  UniqueOsHandle Own(HANDLE handle) { return UniqueOsHandle(FromHandle(handle), {this}); }
};

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_VPN_OS_WIN_H_
