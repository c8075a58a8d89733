// Move-only owners of the resources that VpnOs hands out. A handle or module
// is wrapped the moment it exists and is released through the VpnOs that
// created it, so the real and the fake implementations see every close.
//
// Threads: an owner is used by one thread at a time; handing it to another
// thread needs the usual happens-before (thread creation, join).
#ifndef VELQA_VPN_OS_SCOPED_HANDLE_H_
#define VELQA_VPN_OS_SCOPED_HANDLE_H_

#include <cstdint>

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

// Owns a kernel handle (job, process, thread, token, pipe end).
class ScopedHandle {
 public:
  ScopedHandle() = default;
  ScopedHandle(VpnOs* os, NativeHandle handle) : os_(os), handle_(handle) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(ScopedHandle&& other) noexcept;
  ScopedHandle& operator=(ScopedHandle&& other) noexcept;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  NativeHandle get() const { return handle_; }
  bool is_valid() const { return handle_ != 0; }
  explicit operator bool() const { return is_valid(); }

  // Closes the handle (if any); afterwards the owner is empty.
  void Reset();

 private:
  VpnOs* os_ = nullptr;
  NativeHandle handle_ = 0;
};

// Owns one load of a library; the destructor releases that load.
class ScopedModule {
 public:
  ScopedModule() = default;
  ScopedModule(VpnOs* os, NativeModule module) : os_(os), module_(module) {}
  ~ScopedModule() { Reset(); }

  ScopedModule(ScopedModule&& other) noexcept;
  ScopedModule& operator=(ScopedModule&& other) noexcept;
  ScopedModule(const ScopedModule&) = delete;
  ScopedModule& operator=(const ScopedModule&) = delete;

  NativeModule get() const { return module_; }
  bool is_valid() const { return module_ != 0; }
  explicit operator bool() const { return is_valid(); }

  // Releases the load (if any); afterwards the owner is empty.
  void Reset();

 private:
  VpnOs* os_ = nullptr;
  NativeModule module_ = 0;
};

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_SCOPED_HANDLE_H_
