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
  if (const std::optional<std::uint32_t> exit_code = EndedChildExitCode()) {
    return VpnEvents::Exited(*exit_code, output_tail_.LastLines());
  }
  return VpnEvents::Stopped();
}

VpnManager::ChildEnd VpnManager::EndOwnChildAndTell(const ChildTeardown& teardown) {
  std::optional<flutter::EncodableValue> end = TakeChildEndEvent();
  const ChildEnd ended = EndOwnChild(teardown);
  if (ended == ChildEnd::kKeptRunning) {
    // Still the manager's: its end is still to be told.
    std::lock_guard<std::mutex> lock(process_mutex_);
    child_end_told_ = false;
  } else if (end) {
    events_.Send(std::move(*end));
  }
  return ended;
}

void VpnManager::ReportChildExit() {
  std::lock_guard<std::mutex> lock(process_mutex_);
  if (const std::optional<std::uint32_t> exit_code = EndedChildExitCode()) QueueChildExit(*exit_code);
}

void VpnManager::QueueChildExit(std::uint32_t exit_code) {
  if (child_end_told_) return;
  child_end_told_ = true;
  events_.Post(VpnEvents::Exited(exit_code, output_tail_.LastLines()));
}
