#include "vpn/os/read_cancellation_posix.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace vpn_os {

using Clock = std::chrono::steady_clock;

PosixReadCancellation::PosixReadCancellation() : event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

bool PosixReadCancellation::Cancel() {
  cancelled_.store(true);
  if (event_.is_valid()) {
    const std::uint64_t one = 1;
    while (write(event_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  return true;
}

ReadResult ReadPipe(int fd, std::span<char> buffer, PosixReadCancellation* cancel,
                    std::optional<Clock::time_point> deadline) {
  ReadResult result;
  for (;;) {
    if (cancel != nullptr || deadline) {
      if (cancel != nullptr && cancel->IsCancelled()) {
        result.cancelled = true;
        result.error = ECANCELED;
        return result;
      }
      const bool with_event = cancel != nullptr && cancel->event_fd() >= 0;
      pollfd entries[2] = {{fd, POLLIN, 0}, {with_event ? cancel->event_fd() : -1, POLLIN, 0}};
      // Without an event descriptor the cancelled flag is looked at every 50 ms.
      int timeout_ms = cancel != nullptr && !with_event ? 50 : -1;
      if (deadline) {
        // Rounded up: a poll that ends just short of the deadline would
        // otherwise be followed by polls of 0 ms until it passes.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        const int left_ms = static_cast<int>(std::max<long long>(left.count(), 0));
        timeout_ms = timeout_ms < 0 ? left_ms : std::min(timeout_ms, left_ms);
      }
      const int ready = poll(entries, with_event ? 2 : 1, timeout_ms);
      if (ready < 0 && errno != EINTR) {
        result.error = static_cast<OsErrorCode>(errno);
        return result;
      }
      if (ready <= 0 || entries[0].revents == 0) {
        if (deadline && Clock::now() >= *deadline) {
          result.timed_out = true;
          result.error = ETIMEDOUT;
          return result;
        }
        continue;  // woken, interrupted or the flag's turn: look again
      }
    }
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = static_cast<OsErrorCode>(errno);
      return result;
    }
    result.ok = true;
    result.bytes = static_cast<std::size_t>(got);
    return result;
  }
}

}  // namespace vpn_os
