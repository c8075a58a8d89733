#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "tests/vpn_lifecycle/stdout_tap.h"

namespace vpn_test {
namespace {

class WinStdoutTap : public StdoutTap {
 public:
  WinStdoutTap() {
    std::fflush(stdout);
    int fds[2];
    if (_pipe(fds, 1 << 20, _O_BINARY | _O_NOINHERIT) != 0) return;
    read_fd_ = fds[0];
    saved_fd_ = _dup(1);
    saved_handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
    _dup2(fds[1], 1);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    _close(fds[1]);
  }
  ~WinStdoutTap() override {
    Restore();
    if (read_fd_ >= 0) _close(read_fd_);
  }

  size_t Read(char* buffer, size_t size, std::chrono::milliseconds timeout) override {
    HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(read_fd_));
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return 0;
      if (available > 0) {
        DWORD got = 0;
        DWORD want = available < size ? available : static_cast<DWORD>(size);
        return ReadFile(pipe, buffer, want, &got, nullptr) ? got : 0;
      }
      if (std::chrono::steady_clock::now() >= deadline) return 0;
      Sleep(2);
    }
  }

  void Restore() override {
    if (saved_fd_ < 0) return;
    std::fflush(stdout);
    _dup2(saved_fd_, 1);
    SetStdHandle(STD_OUTPUT_HANDLE, saved_handle_);
    _close(saved_fd_);
    saved_fd_ = -1;
  }

 private:
  int read_fd_ = -1;
  int saved_fd_ = -1;
  HANDLE saved_handle_ = nullptr;
};

}  // namespace

std::unique_ptr<StdoutTap> StdoutTap::Divert() { return std::make_unique<WinStdoutTap>(); }

}  // namespace vpn_test
