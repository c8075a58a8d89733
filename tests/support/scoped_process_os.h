// The real OS, except that the process list shows only the processes started
// through this object (and those added by Track), so that the manager's
// stray-process cleanup and status scan never meet another test's or
// benchmark's sing-box running beside this one.
//
// Threads: any thread, like the platform's interface.
#ifndef VELQA_TESTS_SUPPORT_SCOPED_PROCESS_OS_H_
#define VELQA_TESTS_SUPPORT_SCOPED_PROCESS_OS_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/forwarding_vpn_os.h"
#include "vpn/os/vpn_os.h"

namespace vpn_test {

// A launch of `executable` with `arguments`, each quoted on the command line
// the way the manager quotes sing-box's, its output going to `output`.
vpn_os::ProcessLaunch ProgramLaunch(const std::filesystem::path& executable,
                                    const std::vector<std::string>& arguments,
                                    vpn_os::NativeHandle output, vpn_os::NativeHandle token = 0);

// Everything `pipe` delivers until its writers are gone.
std::string ReadToEnd(vpn_os::VpnOs& os, vpn_os::NativeHandle pipe);

class ScopedProcessOs : public vpn_test_support::ForwardingVpnOs {
 public:
  void Track(std::uint32_t process_id);
  // Starts `executable` with `arguments` as the manager starts sing-box:
  // with the process's own token, its output going to `output`. It is
  // listed by the snapshot.
  vpn_os::ProcessResult StartProgram(const std::filesystem::path& executable,
                                     const std::vector<std::string>& arguments,
                                     vpn_os::NativeHandle output);
  // Starts a stand-in copy from `executable` with `config_path`, outside any
  // job; it is listed by the snapshot. Returns its handles.
  vpn_os::ProcessInfo StartStray(const std::filesystem::path& executable,
                                 const std::string& config_path);

  // From now on the assignment of a child to its job is refused, as the
  // system may refuse it: the child then runs outside the job.
  void RefuseJobAssignment() { refuse_job_assignment_ = true; }

  vpn_os::ProcessResult StartProcess(const vpn_os::ProcessLaunch& launch) override;
  vpn_os::SnapshotResult SnapshotProcesses() override;
  vpn_os::Status AssignProcessToJob(vpn_os::NativeHandle job,
                                    vpn_os::NativeHandle process) override;

  // Counts of calls the tests look at.
  int snapshots() const { return snapshots_; }

  // Whether a process with this id is still listed by the system.
  bool IsListed(std::uint32_t process_id);

 private:
  std::mutex mutex_;
  std::set<std::uint32_t> tracked_;
  int snapshots_ = 0;
  std::atomic<bool> refuse_job_assignment_{false};
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_SCOPED_PROCESS_OS_H_
