// Construction, destruction, channel registration and method dispatch of
// VpnManager, and the check_tun_driver handler.
#include "vpn/vpn_manager.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "channel/standard_method_codec.h"
#include "logging/console_output.h"
#include "logging/native_logger.h"

namespace {

constexpr char kLogTag[] = "VpnManager";

}  // namespace

VpnManager::VpnManager() : VpnManager(vpn_os::PlatformOs()) {}

VpnManager::VpnManager(vpn_os::VpnOs& os) : os_(os) {}

VpnManager::~VpnManager() {
  StopLogMonitor();
  EndOwnChildAndTell(ChildTeardown{});
  UnloadWinTun();
  log_monitor_thread_.reset();
  channel_.reset();
  // A job still open here (its child was seen ending by get_vpn_status) is
  // closed with the member, which also ends anything the child left in it.
}

void VpnManager::RegisterMethodChannelDirect(flutter::BinaryMessenger* messenger) {
  channel_ = std::make_unique<flutter::MethodChannel<flutter::EncodableValue>>(
      messenger, kChannelName, &flutter::StandardMethodCodec::GetInstance());
  VpnManager* manager = this;
  channel_->SetMethodCallHandler([manager](const MethodCall& call, ResultPtr result) {
    // The messenger calls this from the embedding's C callback: nothing may
    // propagate out of it.
    try {
      manager->HandleMethodCall(call, std::move(result));
    } catch (const std::exception& e) {
      LogRecord(std::string("Unhandled exception in method call ") + call.method_name() + ": " +
                e.what());
    } catch (...) {
      LogRecord("Unhandled exception in method call " + call.method_name());
    }
  });
}

void VpnManager::HandleMethodCall(const MethodCall& call, ResultPtr result) {
  const std::string& name = call.method_name();
  if (name == "start_vpn") {
    HandleStartVpnMethod(call, std::move(result));
  } else if (name == "stop_vpn") {
    HandleStopVpnMethod(std::move(result));
  } else if (name == "get_vpn_status") {
    HandleGetVpnStatusMethod(std::move(result));
  } else if (name == "check_tun_driver") {
    HandleCheckTunDriverMethod(std::move(result));
  } else if (name == "install_wintun_driver") {
    HandleInstallWinTunDriverMethod(std::move(result));
  } else {
    result->NotImplemented();
  }
}

void VpnManager::HandleCheckTunDriverMethod(ResultPtr result) {
  LogRecord("HandleCheckTunDriverMethod called");
  CheckTunDriver(std::move(result));
}

void VpnManager::CheckTunDriver(ResultPtr result) {
  LogRecord("Checking TUN driver availability...");
  const bool available = IsWinTunAvailable();
  ConsoleLine(std::string("VpnManager: TUN driver available: ") + (available ? "true" : "false"));
  result->Success(flutter::EncodableValue(available));
}

void VpnManager::LogRecord(const std::string& message) {
  NativeLogger::GetInstance().Info(message, kLogTag);
}

void VpnManager::ConsoleLine(const std::string& text) {
  // Through the logger's console queue: the platform thread never waits on
  // a standard output nobody reads, and lines keep their order with records.
  velqa::logging::ConsoleOutput::Instance().Write(velqa::base::StandardStream::kOutput, text + "\n");
}
