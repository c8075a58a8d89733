// The tests' view into VpnManager's state, for what no answer shows, and the
// way to put a child into it as start_vpn would (declared a friend by
// VpnManager).
//
// Threads: as the manager's own fields: use it while no call runs.
#ifndef VELQA_TESTS_SUPPORT_VPN_MANAGER_TEST_PEER_H_
#define VELQA_TESTS_SUPPORT_VPN_MANAGER_TEST_PEER_H_

#include <cstdint>
#include <utility>

#include "vpn/os/vpn_os.h"
#include "vpn/vpn_manager.h"

class VpnManagerTestPeer {
 public:
  explicit VpnManagerTestPeer(VpnManager& manager) : manager_(manager) {}

  bool is_running() const { return manager_.is_running_.load(); }
  std::uint32_t process_id() const { return manager_.process_info_.process_id; }
  bool has_process_handle() const { return manager_.process_info_.process.is_valid(); }
  bool has_thread_handle() const { return manager_.process_info_.thread.is_valid(); }
  bool has_job() const { return manager_.job_object_.is_valid(); }
  bool has_read_pipe() const { return manager_.output_read_pipe_.is_valid(); }
  bool has_write_pipe() const { return manager_.output_write_pipe_.is_valid(); }
  bool has_monitor() const { return manager_.log_monitor_thread_ != nullptr; }
  bool has_wintun() const { return manager_.wintun_module_.is_valid(); }
  bool has_channel() const { return manager_.channel_ != nullptr; }

  // Puts a child started through the manager's OS into the manager as
  // start_vpn would.
  void AdoptRunningChild(vpn_os::ProcessInfo child, vpn_os::UniqueOsHandle job) {
    manager_.process_info_ = std::move(child);
    manager_.job_object_ = std::move(job);
    manager_.is_running_.store(true);
  }
  void SetJob(vpn_os::UniqueOsHandle job) { manager_.job_object_ = std::move(job); }

 private:
  VpnManager& manager_;
};

#endif  // VELQA_TESTS_SUPPORT_VPN_MANAGER_TEST_PEER_H_
