#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "tests/vpn_lifecycle/stdout_tap.h"

namespace vpn_test {
namespace {

class PosixStdoutTap : public StdoutTap {
 public:
  PosixStdoutTap() {
    std::fflush(stdout);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    read_fd_ = fds[0];
    saved_fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
  }
  ~PosixStdoutTap() override {
    Restore();
    if (read_fd_ >= 0) close(read_fd_);
  }

  size_t Read(char* buffer, size_t size, std::chrono::milliseconds timeout) override {
    pollfd p{read_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    ssize_t n = read(read_fd_, buffer, size);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

  void Restore() override {
    if (saved_fd_ < 0) return;
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    saved_fd_ = -1;
  }

 private:
  int read_fd_ = -1;
  int saved_fd_ = -1;
};

}  // namespace

std::unique_ptr<StdoutTap> StdoutTap::Divert() { return std::make_unique<PosixStdoutTap>(); }

}  // namespace vpn_test
