// Shared pieces of the lifecycle tests: calling the manager like the channel
// does and keeping its replies, stand-in configurations in a scratch folder,
// and an OS interface that lets real processes run but shows the manager only
// the processes this test started, so parallel tests never end each other's.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_
#define VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "channel/encodable_value.h"
#include "tests/support/forwarding_vpn_os.h"
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
class ScopedProcessOs : public vpn_test_support::ForwardingVpnOs {
 public:
  void Track(std::uint32_t process_id);
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

// The folder of the test executable (where the bundle layout is built).
std::filesystem::path ExecutableDirectory();

}  // namespace lifecycle_test

#endif  // VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_SUPPORT_H_
