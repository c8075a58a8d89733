#include "shell/startup_facts.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/system_library_win.h"
#include "base/utf16_text.h"
#include "base/win_resources_win.h"
#include "logging/executable_directory.h"

namespace {

constexpr char kUnknown[] = "未知";

// The version record's product version string, else its fixed numbers.
std::string ProductVersion() {
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found != nullptr ? ::LoadResource(nullptr, found) : nullptr;
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return kUnknown;
  using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  const velqa::base::UniqueModule version_dll = velqa::base::LoadSystemLibrary(L"version.dll");
  const auto query = velqa::base::SystemFunction<VerQueryValueFn>(version_dll, "VerQueryValueW");
  if (query == nullptr) return kUnknown;
  // VerQueryValueW may write into the block; it gets a copy.
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::vector<unsigned char> block(bytes, bytes + ::SizeofResource(nullptr, found));

  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translation = nullptr;
  UINT size = 0;
  if (query(block.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &size) &&
      size >= sizeof(Translation)) {
    wchar_t key[64];
    std::swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translation->language,
                  translation->code_page);
    wchar_t* text = nullptr;
    if (query(block.data(), key, reinterpret_cast<void**>(&text), &size) && size > 1) {
      return velqa::base::Utf8FromWide(text).value_or(std::string());
    }
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  if (query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) &&
      size >= sizeof(VS_FIXEDFILEINFO)) {
    char text[48];
    std::snprintf(text, sizeof(text), "%lu.%lu.%lu.%lu", fixed->dwProductVersionMS >> 16,
                  fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
                  fixed->dwProductVersionLS & 0xFFFF);
    return text;
  }
  return kUnknown;
}

// "Windows major.minor.build[.revision]" as the kernel reports it: unlike
// GetVersionEx, RtlGetVersion does not depend on what the manifest declares.
std::string WindowsVersion() {
  using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto get_version = reinterpret_cast<RtlGetVersionFn>(
      ntdll != nullptr ? reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion"))
                       : nullptr);
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (get_version == nullptr || get_version(&info) != 0) return kUnknown;
  // The update revision lives only in the registry. The whole text is
  // formatted at once: appending "." + to_string(...) to a std::string trips
  // GCC 12's -Wrestrict false positive at -O3.
  DWORD revision = 0;
  DWORD size = sizeof(revision);
  const bool has_revision =
      ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR",
                     RRF_RT_REG_DWORD, nullptr, &revision, &size) == ERROR_SUCCESS;
  char text[80];
  if (has_revision) {
    std::snprintf(text, sizeof(text), "Windows %lu.%lu.%lu.%lu", info.dwMajorVersion,
                  info.dwMinorVersion, info.dwBuildNumber, revision);
  } else {
    std::snprintf(text, sizeof(text), "Windows %lu.%lu.%lu", info.dwMajorVersion,
                  info.dwMinorVersion, info.dwBuildNumber);
  }
  return text;
}

std::string MachineName(USHORT machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
      return "x64";
    case IMAGE_FILE_MACHINE_I386:
      return "x86";
    case IMAGE_FILE_MACHINE_ARM64:
      return "arm64";
    case IMAGE_FILE_MACHINE_ARMNT:
      return "arm";
    default:
      break;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X", machine);
  return text;
}

// The machine's own architecture, also when this process runs emulated.
std::string MachineArchitecture() {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  auto is_wow64_process2 = reinterpret_cast<IsWow64Process2Fn>(
      kernel32 != nullptr ? reinterpret_cast<void*>(::GetProcAddress(kernel32, "IsWow64Process2"))
                          : nullptr);
  USHORT process = 0;
  USHORT native = 0;
  if (is_wow64_process2 != nullptr && is_wow64_process2(::GetCurrentProcess(), &process, &native)) {
    return MachineName(native);
  }
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return MachineName(IMAGE_FILE_MACHINE_AMD64);
    case PROCESSOR_ARCHITECTURE_INTEL:
      return MachineName(IMAGE_FILE_MACHINE_I386);
    case PROCESSOR_ARCHITECTURE_ARM64:
      return MachineName(IMAGE_FILE_MACHINE_ARM64);
    default:
      return kUnknown;
  }
}

// The architecture the process runs as: that of its executable's image.
std::string ProcessArchitecture() {
  const auto* base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return MachineName(nt->FileHeader.Machine);
}

const char* Elevated() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return kUnknown;
  velqa::base::UniqueHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return kUnknown;
  }
  return elevation.TokenIsElevated != 0 ? "是" : "否";
}

}  // namespace

std::string DescribeStartupFacts() {
  std::string install_directory = velqa::logging::ExecutableDirectory();
  if (install_directory.empty()) install_directory = kUnknown;
  return "启动信息: 版本 " + ProductVersion() + ", " + WindowsVersion() + ", 系统架构 " +
         MachineArchitecture() + ", 进程架构 " + ProcessArchitecture() + ", 安装目录 " +
         install_directory + ", 管理员权限 " + Elevated();
}
