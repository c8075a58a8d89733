#include "vpn/os/scoped_handle.h"

#include <utility>

#include "vpn/os/vpn_os.h"

namespace vpn_os {

ScopedHandle::ScopedHandle(ScopedHandle&& other) noexcept
    : os_(std::exchange(other.os_, nullptr)), handle_(std::exchange(other.handle_, 0)) {}

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    os_ = std::exchange(other.os_, nullptr);
    handle_ = std::exchange(other.handle_, 0);
  }
  return *this;
}

void ScopedHandle::Reset() {
  NativeHandle handle = std::exchange(handle_, 0);
  if (handle != 0 && os_ != nullptr) os_->CloseHandle(handle);
}

ScopedModule::ScopedModule(ScopedModule&& other) noexcept
    : os_(std::exchange(other.os_, nullptr)), module_(std::exchange(other.module_, 0)) {}

ScopedModule& ScopedModule::operator=(ScopedModule&& other) noexcept {
  if (this != &other) {
    Reset();
    os_ = std::exchange(other.os_, nullptr);
    module_ = std::exchange(other.module_, 0);
  }
  return *this;
}

void ScopedModule::Reset() {
  NativeModule module = std::exchange(module_, 0);
  if (module != 0 && os_ != nullptr) os_->ReleaseModule(module);
}

}  // namespace vpn_os
