// Reading the child's output pipe on Linux so that a read can end early: a
// read given a cancellation waits in poll on the pipe and on the
// cancellation's event, which Cancel signals; a read given a deadline waits
// no longer than that.
//
// Threads: one reading thread per cancellation; Cancel from any thread.
#ifndef VELQA_VPN_OS_READ_CANCELLATION_POSIX_H_
#define VELQA_VPN_OS_READ_CANCELLATION_POSIX_H_

#include <atomic>
#include <chrono>
#include <optional>
#include <span>

#include "base/unique_fd_posix.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

class PosixReadCancellation final : public ReadCancellation {
 public:
  PosixReadCancellation();

  // The reader waits in poll on the event (or looks at the flag every 50 ms
  // without one), so the request always reaches it.
  bool Cancel() override;
  bool IsCancelled() const override { return cancelled_.load(); }
  // -1 without an event descriptor: the reader then polls the flag.
  int event_fd() const { return event_.get(); }

 private:
  velqa::base::UniqueFd event_;
  std::atomic<bool> cancelled_{false};
};

// Reads up to buffer.size() bytes of `fd`. Without a cancellation and a
// deadline this is a plain blocking read. Otherwise it waits in poll while a
// read could block: until the pipe is readable or writerless (then the read
// does not block), `cancel` fires, or `deadline` passes.
ReadResult ReadPipe(int fd, std::span<char> buffer, PosixReadCancellation* cancel,
                    std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_READ_CANCELLATION_POSIX_H_
