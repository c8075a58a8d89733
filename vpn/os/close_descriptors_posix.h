// Closing every inherited descriptor in a freshly forked process, so that a
// child or the job guard holds only what it was meant to.
//
// Threads: for the child side of fork; async-signal-safe.
#ifndef VELQA_VPN_OS_CLOSE_DESCRIPTORS_POSIX_H_
#define VELQA_VPN_OS_CLOSE_DESCRIPTORS_POSIX_H_

namespace vpn_os {

// Closes every descriptor numbered `first` or higher except `keep` (-1: none).
void CloseDescriptorsFrom(int first, int keep);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_CLOSE_DESCRIPTORS_POSIX_H_
