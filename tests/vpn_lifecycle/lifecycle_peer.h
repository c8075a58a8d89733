// The test's view into VpnManager's state, for what no reply shows.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_PEER_H_
#define VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_PEER_H_

#include <cstdint>

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

 private:
  VpnManager& manager_;
};

#endif  // VELQA_TESTS_VPN_LIFECYCLE_LIFECYCLE_PEER_H_
