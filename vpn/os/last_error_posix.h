// The platform's error code of the call that has just failed, as the VPN OS
// interface reports it.
//
// Threads: any thread (errno is per thread).
#ifndef VELQA_VPN_OS_LAST_ERROR_POSIX_H_
#define VELQA_VPN_OS_LAST_ERROR_POSIX_H_

#include <errno.h>

#include "vpn/os/os_owners.h"

namespace vpn_os {

inline OsErrorCode LastError() { return static_cast<OsErrorCode>(errno); }

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_LAST_ERROR_POSIX_H_
