// When VpnManager tells the Dart side about its child: once per child, at its
// end, whoever sees that end first (the monitor, get_vpn_status, or the host
// ending the child itself), and "started" after a successful start_vpn.
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "vpn/vpn_manager.h"

using velqa::vpn::VpnEvents;

void VpnManager::RegisterEventChannel(flutter::BinaryMessenger* messenger, VpnEvents::Wake wake) {
  events_.Register(messenger, std::move(wake));
}

void VpnManager::DeliverPendingEvents() {
  // Called from a window procedure: nothing may propagate out of it.
  try {
    events_.Deliver();
  } catch (const std::exception& e) {
    LogRecord(std::string("Failed to send VPN events: ") + e.what());
  } catch (...) {
    LogRecord("Failed to send VPN events");
  }
}

void VpnManager::BeginChildEvents() {
  events_.Deliver();
  output_tail_.Clear();
  std::lock_guard<std::mutex> lock(process_mutex_);
  child_end_told_ = false;
}

std::optional<flutter::EncodableValue> VpnManager::TakeChildEndEvent() {
  std::lock_guard<std::mutex> lock(process_mutex_);
  if (!is_running_.load() || !process_info_.process || child_end_told_) return std::nullopt;
  child_end_told_ = true;
  const vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  if (exit_code.ok && exit_code.exit_code != vpn_os::kStillActive) {
    return VpnEvents::Exited(exit_code.exit_code, output_tail_.LastLines());
  }
  return VpnEvents::Stopped();
}

void VpnManager::ReportChildExit() {
  std::lock_guard<std::mutex> lock(process_mutex_);
  if (!is_running_.load() || !process_info_.process) return;
  const vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  if (exit_code.ok && exit_code.exit_code != vpn_os::kStillActive) QueueChildExit(exit_code.exit_code);
}

void VpnManager::QueueChildExit(std::uint32_t exit_code) {
  if (child_end_told_) return;
  child_end_told_ = true;
  events_.Post(VpnEvents::Exited(exit_code, output_tail_.LastLines()));
}
