// The Windows implementation of VpnOs: handles, access tokens, libraries,
// files and the machine, always through the wide interface where a path is
// involved; and the one platform instance.
#include "vpn/os/vpn_os_win.h"

#include <cstdint>
#include <string>
#include <vector>


namespace vpn_os {
namespace {

// The errors that the existence test treats as "no such entry".
bool IsNotFoundError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

}  // namespace

void WinVpnOs::CloseHandle(NativeHandle handle) { ::CloseHandle(AsHandle(handle)); }

void WinVpnOs::ReleaseModule(NativeModule module) {
  ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

HandleResult WinVpnOs::OpenOwnProcessToken() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT,
                        &token)) {
    return {{}, GetLastError()};
  }
  return {Own(token), 0};
}

HandleResult WinVpnOs::DuplicatePrimaryToken(NativeHandle token) {
  HANDLE duplicate = nullptr;
  if (!DuplicateTokenEx(AsHandle(token), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                        TokenPrimary, &duplicate)) {
    return {{}, GetLastError()};
  }
  return {Own(duplicate), 0};
}

PrivilegeResult WinVpnOs::LookupPrivilege(std::string_view name) {
  LUID luid{};
  const std::wstring wide_name = WideFromUtf8(name).value_or(std::wstring());
  if (!LookupPrivilegeValueW(nullptr, wide_name.c_str(), &luid)) {
    return {false, {}, GetLastError()};
  }
  return {true, {luid.LowPart, luid.HighPart}, 0};
}

Status WinVpnOs::EnablePrivilege(NativeHandle token, PrivilegeId privilege) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = privilege.low;
  privileges.Privileges[0].Luid.HighPart = privilege.high;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // A call that succeeds without assigning (ERROR_NOT_ALL_ASSIGNED) is not
  // examined: the child then simply runs without the privilege.
  if (!AdjustTokenPrivileges(AsHandle(token), FALSE, &privileges, 0, nullptr, nullptr)) {
    return Status::Failure(GetLastError());
  }
  return Status::Success();
}

ModuleResult WinVpnOs::LoadModule(const std::filesystem::path& path) {
  // WinTun's own dependencies come from its folder or System32, never from
  // the current directory or PATH.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return {{}, GetLastError()};
  return {UniqueOsModule(reinterpret_cast<NativeModule>(module), {this}), 0};
}

PathResult WinVpnOs::ExecutablePath() {
  // A buffer of 260 characters, as the installer's paths are bounded by it;
  // a longer name comes back cut and is used as cut.
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0) return {false, {}, GetLastError()};
  const DWORD kept = length < MAX_PATH ? length : MAX_PATH - 1;
  return {true, std::filesystem::path(std::wstring(buffer, kept)), 0};
}

std::uint16_t WinVpnOs::NativeArchitecture() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture;
}

PathExistsResult WinVpnOs::PathExists(const std::filesystem::path& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return {PathState::kExists, 0};
  }
  const DWORD error = GetLastError();
  if (IsNotFoundError(error)) return {PathState::kNotFound, 0};
  return {PathState::kError, error};
}

void WinVpnOs::Sleep(std::chrono::milliseconds duration) {
  ::Sleep(static_cast<DWORD>(duration.count()));
}

VpnOs& PlatformOs() {
  static VpnOs* const os = new WinVpnOs();
  return *os;
}

}  // namespace vpn_os
