// The child's output pipe on Windows: creating it so that only the write end
// is inherited, blocking reads that another thread can cancel, and reads
// bounded in time for a pipe whose writer nobody controls.
#include <windows.h>

#include <atomic>

#include "vpn/os/vpn_os_win.h"
#include "vpn/vpn_limits.h"

namespace vpn_os {
namespace {

// A synchronous ReadFile can only be ended from another thread with
// CancelSynchronousIo on the reading thread, and only while the read is
// pending. So the reader publishes that it is inside a read, and Cancel
// repeats the cancellation until the reader has left it, for at most
// kReadCancelLimit; a reader that has not yet entered sees the cancelled
// flag and does not enter. The handle to the reading thread is a duplicate of the
// thread's own pseudo-handle, taken before its first read and closed only
// with this object, so it is valid for as long as the thread can be reading.
class WinReadCancellation final : public ReadCancellation {
 public:
  bool Cancel() override {
    cancelled_.store(true);
    const ULONGLONG deadline = ::GetTickCount64() + velqa::vpn::kReadCancelLimit.count();
    while (in_read_.load()) {
      if (::GetTickCount64() >= deadline) return false;
      if (reader_thread_.get() != nullptr) CancelSynchronousIo(reader_thread_.get());
      ::Sleep(1);
    }
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }

  // Reading thread only. False when the read must not start (cancelled).
  bool EnterRead() {
    if (reader_thread_.get() == nullptr) {
      HANDLE thread = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                          THREAD_TERMINATE, FALSE, 0)) {
        reader_thread_ = UniqueHandle(thread);
      }
    }
    in_read_.store(true);
    if (cancelled_.load()) {
      in_read_.store(false);
      return false;
    }
    return true;
  }
  void LeaveRead() { in_read_.store(false); }

 private:
  // Set by the reader before it first publishes in_read_; read by Cancel
  // only after it has seen in_read_ true.
  UniqueHandle reader_thread_;
  std::atomic<bool> in_read_{false};
  std::atomic<bool> cancelled_{false};
};

}  // namespace

PipeResult WinVpnOs::CreateOutputPipe() {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &attributes, 0)) return {{}, {}, GetLastError()};
  PipeResult result;
  result.read_end = Own(read_end);
  result.write_end = Own(write_end);
  // Only the write end is for the child: a child holding the read end too
  // would keep its own writes from ever failing once the host stops reading.
  if (!SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
    const DWORD error = GetLastError();
    return {{}, {}, error};
  }
  return result;
}

ReadResult WinVpnOs::Read(NativeHandle pipe, std::span<char> buffer,
                          ReadCancellation* cancellation) {
  ReadResult result;
  auto* cancel = static_cast<WinReadCancellation*>(cancellation);
  if (cancel != nullptr && !cancel->EnterRead()) {
    result.cancelled = true;
    result.error = ERROR_OPERATION_ABORTED;
    return result;
  }
  DWORD read = 0;
  const BOOL ok =
      ReadFile(AsHandle(pipe), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  if (cancel != nullptr) cancel->LeaveRead();
  if (!ok) {
    result.error = error;
    result.cancelled = error == ERROR_OPERATION_ABORTED;
    return result;
  }
  result.ok = true;
  result.bytes = read;
  return result;
}

std::unique_ptr<ReadCancellation> WinVpnOs::CreateReadCancellation() {
  return std::make_unique<WinReadCancellation>();
}

ReadResult WinVpnOs::ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                                     std::chrono::milliseconds timeout) {
  // An anonymous pipe has no overlapped reads: look at what is waiting and
  // read only that much, so that ReadFile never blocks.
  constexpr DWORD kPoll = 5;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  ReadResult result;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(AsHandle(pipe), nullptr, 0, nullptr, &available, nullptr)) {
      result.error = GetLastError();  // ERROR_BROKEN_PIPE once drained and writerless
      return result;
    }
    if (available > 0) {
      const DWORD wanted =
          available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
      DWORD read = 0;
      if (!ReadFile(AsHandle(pipe), buffer.data(), wanted, &read, nullptr)) {
        result.error = GetLastError();
        return result;
      }
      result.ok = true;
      result.bytes = read;
      return result;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      result.timed_out = true;
      result.error = WAIT_TIMEOUT;
      return result;
    }
    ::Sleep(static_cast<DWORD>(deadline - now < kPoll ? deadline - now : kPoll));
  }
}

}  // namespace vpn_os
