// The WinTun probe: the library is only loaded into this process to learn
// whether it is present and loadable, and kept loaded after an install until
// the next probe or the manager's end. None of its functions is called.
#include <exception>
#include <string>
#include <utility>

#include "base/utf8_path.h"
#include "vpn/vpn_manager.h"

bool VpnManager::LoadWinTun() {
  LogRecord("Loading WinTun library...");
  if (wintun_module_) {
    LogRecord("WinTun library already loaded");
    return true;
  }

  std::string path;
  try {
    path = GetWinTunDllPath();
  } catch (const std::exception& e) {
    // A failed look-up (not a missing file) must not end the process or
    // leave the Dart side without an answer: it counts as not loadable.
    LogRecord(std::string("Failed to look for WinTun DLL: ") + e.what());
    return false;
  } catch (...) {
    LogRecord("Failed to look for WinTun DLL: unknown error");
    return false;
  }
  if (path.empty()) {
    LogRecord("WinTun DLL not found");
    return false;
  }

  ConsoleLine("VpnManager: Loading WinTun from: " + path);
  vpn_os::ModuleResult loaded = os_.LoadModule(velqa::base::PathFromUtf8(path));
  if (!loaded.ok()) {
    ConsoleLine("VpnManager: Failed to load WinTun DLL, error: " + std::to_string(loaded.error));
    return false;
  }
  wintun_module_ = std::move(loaded.module);
  LogRecord("WinTun library loaded successfully");
  return true;
}

void VpnManager::UnloadWinTun() {
  if (!wintun_module_) return;
  LogRecord("Unloading WinTun library...");
  wintun_module_.Reset();
  LogRecord("WinTun library unloaded");
}

bool VpnManager::IsWinTunAvailable() {
  LogRecord("Checking WinTun driver availability...");
  if (LoadWinTun()) {
    LogRecord("WinTun library loaded successfully");
    UnloadWinTun();
    return true;
  }
  LogRecord("WinTun driver not available");
  return false;
}

void VpnManager::HandleInstallWinTunDriverMethod(ResultPtr result) {
  LogRecord("HandleInstallWinTunDriverMethod called");
  InstallWinTunDriver(std::move(result));
}

void VpnManager::InstallWinTunDriver(ResultPtr result) {
  LogRecord("Installing WinTun driver...");
  if (LoadWinTun()) {
    LogRecord("WinTun driver installed and loaded successfully");
    result->Success(flutter::EncodableValue(true));
  } else {
    LogRecord("Failed to install WinTun driver");
    result->Error("WINTUN_INSTALL_FAILED", "Failed to install WinTun driver");
  }
}
