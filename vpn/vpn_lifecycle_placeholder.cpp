// Temporary definitions of the sing-box lifecycle operations so that the
// library links while the launch, monitor and stop code is being written.
// This file is deleted when that code lands.
#include <utility>

#include "vpn/vpn_manager.h"

void VpnManager::HandleStartVpnMethod(const MethodCall& /*call*/, ResultPtr result) {
  LogRecord("HandleStartVpnMethod called");
  result->Error("PROCESS_START_FAILED", "Failed to start process with elevated privileges");
}

void VpnManager::HandleStopVpnMethod(ResultPtr result) {
  LogRecord("HandleStopVpnMethod called");
  StopVpn(std::move(result));
}

void VpnManager::StopVpn(ResultPtr result) {
  LogRecord("Stopping VPN...");
  StopLogMonitor();
  LogRecord("VPN stop operation completed");
  result->Success();
}

bool VpnManager::TerminateProcessesByName(const std::string& /*image_name*/) { return false; }

void VpnManager::HandleGetVpnStatusMethod(ResultPtr result) {
  result->Success(flutter::EncodableValue(false));
}

void VpnManager::LogMonitorThread() {}

void VpnManager::StopLogMonitor() {
  LogRecord("Stopping log monitor...");
  stop_log_monitor_.exchange(true);
  if (log_monitor_thread_ && log_monitor_thread_->joinable()) {
    LogRecord("Waiting for log monitor thread to finish...");
    if (log_monitor_read_cancellation_) log_monitor_read_cancellation_->Cancel();
    log_monitor_thread_->join();
    log_monitor_thread_.reset();
    LogRecord("Log monitor thread finished");
  }
  log_monitor_read_cancellation_.reset();
  output_read_pipe_.Reset();
  output_write_pipe_.Reset();
  LogRecord("Log monitor stopped");
}
