#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "base/unique_fd_posix.h"
#include "tests/vpn_lifecycle/stdout_tap.h"

namespace vpn_test {
namespace {

class PosixStdoutTap : public StdoutTap {
 public:
  PosixStdoutTap() {
    std::fflush(stdout);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    read_fd_.Reset(fds[0]);
    const velqa::base::UniqueFd write_end(fds[1]);
    saved_fd_.Reset(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
    dup2(write_end.get(), STDOUT_FILENO);
  }
  ~PosixStdoutTap() override { Restore(); }

  size_t Read(char* buffer, size_t size, std::chrono::milliseconds timeout) override {
    pollfd p{read_fd_.get(), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    ssize_t n = read(read_fd_.get(), buffer, size);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

  void Restore() override {
    if (!saved_fd_) return;
    std::fflush(stdout);
    dup2(saved_fd_.get(), STDOUT_FILENO);
    saved_fd_.Reset();
  }

 private:
  velqa::base::UniqueFd read_fd_;
  velqa::base::UniqueFd saved_fd_;
};

}  // namespace

std::unique_ptr<StdoutTap> StdoutTap::Divert() { return std::make_unique<PosixStdoutTap>(); }

}  // namespace vpn_test
