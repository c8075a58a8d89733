// Owners of the resources that VpnOs hands out. A handle or module is wrapped
// the moment it exists and is released through the VpnOs that created it (the
// traits carry that VpnOs), so the real and the fake implementations see
// every close.
//
// Threads: see base/unique_resource.h.
#ifndef VELQA_VPN_OS_OS_OWNERS_H_
#define VELQA_VPN_OS_OS_OWNERS_H_

#include <cstdint>

#include "base/unique_resource.h"

namespace vpn_os {

class VpnOs;

// An opaque handle value of one VpnOs implementation; 0 is "none". On Windows
// it is the HANDLE itself, elsewhere a key into the implementation's table.
using NativeHandle = std::uintptr_t;
// A loaded library: HMODULE on Windows, the dlopen handle elsewhere.
using NativeModule = std::uintptr_t;
// The platform's error code at the failing call: GetLastError on Windows,
// errno elsewhere.
using OsErrorCode = std::uint32_t;

// A kernel handle (job, process, thread, token, pipe end), closed with
// VpnOs::CloseHandle.
struct OsHandleTraits {
  using Handle = NativeHandle;
  VpnOs* os = nullptr;
  static NativeHandle None() { return 0; }
  static bool IsValid(NativeHandle handle) { return handle != 0; }
  void Close(NativeHandle handle) const;
};
using UniqueOsHandle = velqa::base::UniqueResource<OsHandleTraits>;

// One load of a library, released with VpnOs::ReleaseModule.
struct OsModuleTraits {
  using Handle = NativeModule;
  VpnOs* os = nullptr;
  static NativeModule None() { return 0; }
  static bool IsValid(NativeModule module) { return module != 0; }
  void Close(NativeModule module) const;
};
using UniqueOsModule = velqa::base::UniqueResource<OsModuleTraits>;

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_OS_OWNERS_H_
