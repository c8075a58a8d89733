#include "vpn/os/os_owners.h"

#include "vpn/os/vpn_os.h"

namespace vpn_os {

void OsHandleTraits::Close(NativeHandle handle) const {
  if (os != nullptr) os->CloseHandle(handle);
}

void OsModuleTraits::Close(NativeModule module) const {
  if (os != nullptr) os->ReleaseModule(module);
}

}  // namespace vpn_os
