// Finding the files shipped beside the executable: the sing-box executable in
// "data", chosen by the machine's native processor architecture (it runs as a
// process of its own), and the WinTun library in "wintun", chosen by the
// architecture of this process (it is loaded into it). Paths are UTF-8 text; on Windows they reach
// the file system through the wide interface.
#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/utf8_path.h"
#include "vpn/vpn_manager.h"

namespace {

namespace fs = std::filesystem;
using velqa::base::PathFromUtf8;
using velqa::base::Utf8FromPath;

// The standard library's exists test, but through VpnOs: absent for the
// platform's not-found errors, a file-system error for any other failure.
bool ExistsOrThrow(vpn_os::VpnOs& os, const fs::path& path) {
  const vpn_os::PathExistsResult result = os.PathExists(path);
  switch (result.state) {
    case vpn_os::PathState::kExists:
      return true;
    case vpn_os::PathState::kNotFound:
      return false;
    case vpn_os::PathState::kError:
      break;
  }
  throw fs::filesystem_error(
      "exists: " + Utf8FromPath(path),
      std::error_code(static_cast<int>(result.error), std::system_category()));
}

fs::path SingBoxCandidate(const fs::path& executable_directory, const std::string& suffix) {
  return executable_directory / "data" / PathFromUtf8("sing-box-" + suffix + ".exe");
}

// "x86", "x64" or "arm64" for a processor architecture code.
std::string ArchitectureName(std::uint16_t code) {
  switch (code) {
    case vpn_os::kArchitectureX86:
      return "x86";
    case vpn_os::kArchitectureAmd64:
      return "x64";
    case vpn_os::kArchitectureArm64:
      return "arm64";
    default:
      return "x64";
  }
}

}  // namespace

std::string VpnManager::GetSystemArchitecture() {
  return ArchitectureName(os_.NativeArchitecture());
}

std::string VpnManager::GetSingBoxExecutablePath() {
  try {
    const std::string architecture = GetSystemArchitecture();
    const vpn_os::PathResult executable = os_.ExecutablePath();
    if (!executable.ok) {
      LogRecord("Failed to get module filename");
      return {};
    }
    const fs::path directory = executable.path.parent_path();
    const std::string suffix = architecture == "arm64" ? "arm64" : "amd64";

    const fs::path first_choice = SingBoxCandidate(directory, suffix);
    ConsoleLine("VpnManager: Looking for sing-box at: " + Utf8FromPath(first_choice));
    if (ExistsOrThrow(os_, first_choice)) {
      LogRecord("Found sing-box executable");
      return Utf8FromPath(first_choice);
    }

    static constexpr std::array<const char*, 2> kFallbackOrder = {"amd64", "arm64"};
    for (const char* entry : kFallbackOrder) {
      if (suffix == entry) continue;
      const fs::path fallback = SingBoxCandidate(directory, entry);
      if (ExistsOrThrow(os_, fallback)) {
        ConsoleLine("VpnManager: Found sing-box executable (fallback): " + Utf8FromPath(fallback));
        return Utf8FromPath(fallback);
      }
    }

    LogRecord("sing-box not found");
    return {};
  } catch (const std::exception& e) {
    ConsoleLine(std::string("VpnManager: Exception in GetSingBoxExecutablePath: ") + e.what());
    return {};
  } catch (...) {
    LogRecord("Unknown exception in GetSingBoxExecutablePath");
    return {};
  }
}

std::string VpnManager::GetWinTunDllPath() {
  const vpn_os::PathResult executable = os_.ExecutablePath();
  if (!executable.ok) {
    LogRecord("Failed to get application path");
    return {};
  }
  // The library is loaded into this process, so it must match the process's
  // own architecture, which differs from the machine's under emulation.
  const std::string architecture = ArchitectureName(os_.ProcessArchitecture());
  const fs::path path = executable.path.parent_path() / "wintun" /
                        PathFromUtf8("wintun_" + architecture + ".dll");
  const std::string text = Utf8FromPath(path);
  ConsoleLine("VpnManager: Expected WinTun path: " + text);
  if (ExistsOrThrow(os_, path)) return text;
  LogRecord("WinTun DLL not found at expected path");
  return {};
}
