// The child's output pipe on Windows: created so that only the write end is
// ever inheritable, and read with overlapped reads, so that a read can be
// ended exactly (a stop, a time limit) without touching any other I/O.
#include <windows.h>

#include <atomic>
#include <optional>
#include <random>
#include <string>

#include "vpn/os/vpn_os_win.h"

namespace vpn_os {
namespace {

// What the pipe holds before the child's writes block.
constexpr DWORD kPipeBufferSize = 64 * 1024;
// Without its event, a cancellation is looked at this often.
constexpr DWORD kCancelPoll = 50;

// A cancelled read ends because the reading thread itself, waiting on the
// read's event and on this object's event, wakes and cancels its own pending
// read with CancelIoEx on that read's OVERLAPPED. A synchronous read would
// need CancelSynchronousIo from the outside, which hits whatever I/O the
// thread does next if the read has just finished. The read's event is kept
// here too, so a reading thread does not create one per read.
class WinReadCancellation final : public ReadCancellation {
 public:
  WinReadCancellation()
      : cancel_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        read_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  // The reader waits on the event (or looks at the flag every kCancelPoll
  // without one), so the request always reaches it.
  bool Cancel() override {
    cancelled_.store(true);
    if (cancel_event_.is_valid()) SetEvent(cancel_event_.get());
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }

  HANDLE cancel_event() const { return cancel_event_.get(); }
  HANDLE read_event() const { return read_event_.get(); }

 private:
  UniqueHandle cancel_event_;
  UniqueHandle read_event_;
  std::atomic<bool> cancelled_{false};
};

// One overlapped read of `pipe` (opened with FILE_FLAG_OVERLAPPED). It ends
// when data or the end of the pipe comes, when `cancel` is cancelled, or at
// `deadline` (GetTickCount64). Data that arrives as the read is being ended
// is delivered, not lost.
ReadResult OverlappedRead(HANDLE pipe, std::span<char> buffer, WinReadCancellation* cancel,
                          std::optional<ULONGLONG> deadline) {
  ReadResult result;
  if (cancel != nullptr && cancel->IsCancelled()) {
    result.cancelled = true;
    result.error = ERROR_OPERATION_ABORTED;
    return result;
  }
  UniqueHandle own_event;
  HANDLE read_event = cancel != nullptr ? cancel->read_event() : nullptr;
  if (read_event == nullptr) {
    own_event = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!own_event.is_valid()) {
      result.error = GetLastError();
      return result;
    }
    read_event = own_event.get();
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = read_event;
  if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      result.error = error;  // ERROR_BROKEN_PIPE once drained and writerless
      return result;
    }
    const HANDLE cancel_event = cancel != nullptr ? cancel->cancel_event() : nullptr;
    for (;;) {
      const HANDLE waits[2] = {read_event, cancel_event};
      DWORD timeout = cancel != nullptr && cancel_event == nullptr ? kCancelPoll : INFINITE;
      if (deadline) {
        const ULONGLONG now = ::GetTickCount64();
        const ULONGLONG left = *deadline > now ? *deadline - now : 0;
        if (left < timeout) timeout = static_cast<DWORD>(left);
      }
      const DWORD outcome =
          WaitForMultipleObjects(cancel_event != nullptr ? 2 : 1, waits, FALSE, timeout);
      if (outcome == WAIT_OBJECT_0) break;
      if (cancel != nullptr && cancel->IsCancelled()) {
        result.cancelled = true;
        result.error = ERROR_OPERATION_ABORTED;
      } else if (deadline && ::GetTickCount64() >= *deadline) {
        result.timed_out = true;
        result.error = WAIT_TIMEOUT;
      } else if (outcome == WAIT_FAILED) {
        result.error = GetLastError();
      } else {
        continue;
      }
      // Exactly this read, and no other I/O of the thread or the process.
      CancelIoEx(pipe, &overlapped);
      break;
    }
  }
  // The OVERLAPPED and the buffer stay in use until the read has completed,
  // cancelled or not.
  DWORD got = 0;
  if (!GetOverlappedResult(pipe, &overlapped, &got, TRUE)) {
    // Ended by the cancellation or the deadline above: as set there.
    const DWORD error = GetLastError();
    if (error != ERROR_OPERATION_ABORTED || (!result.cancelled && !result.timed_out)) {
      result.cancelled = false;
      result.timed_out = false;
      result.error = error;
    }
    return result;
  }
  result = ReadResult{};
  result.ok = true;
  result.bytes = got;
  return result;
}

// A name no other pipe of this process, or of another copy, has, and that
// another program cannot take first by guessing it (the pipe would then not
// be created, and the start would fail).
std::wstring UniquePipeName() {
  static std::atomic<unsigned long> serial{0};
  unsigned long long salt = ::GetTickCount64();
  try {
    std::random_device random;
    salt = (static_cast<unsigned long long>(random()) << 32) ^ random();
  } catch (...) {
    // No source of randomness: the clock stands in.
  }
  return L"\\\\.\\pipe\\velqa-sing-box-output-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(serial.fetch_add(1)) + L"-" + std::to_wstring(salt);
}

}  // namespace

PipeResult WinVpnOs::CreateOutputPipe() {
  // Both ends are created non-inheritable and only the write end is marked
  // afterwards: a CreateProcess with inheritance on another thread (a plug-in
  // without a handle list) can never take the read end, which would keep the
  // child's writes from failing once the host stops reading.
  const std::wstring name = UniquePipeName();
  PipeResult result;
  HANDLE read_end = CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
      kPipeBufferSize, kPipeBufferSize, 0, nullptr);
  if (read_end == INVALID_HANDLE_VALUE) {
    result.error = GetLastError();
    return result;
  }
  result.read_end = Own(read_end);
  // The child writes synchronously: no FILE_FLAG_OVERLAPPED on its end.
  HANDLE write_end = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (write_end == INVALID_HANDLE_VALUE) {
    result.error = GetLastError();
    result.read_end.Reset();
    return result;
  }
  result.write_end = Own(write_end);
  if (!SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    const DWORD error = GetLastError();
    return {{}, {}, error};
  }
  return result;
}

ReadResult WinVpnOs::Read(NativeHandle pipe, std::span<char> buffer,
                          ReadCancellation* cancellation) {
  return OverlappedRead(AsHandle(pipe), buffer, static_cast<WinReadCancellation*>(cancellation),
                        std::nullopt);
}

std::unique_ptr<ReadCancellation> WinVpnOs::CreateReadCancellation() {
  return std::make_unique<WinReadCancellation>();
}

ReadResult WinVpnOs::ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                                     ReadCancellation* cancellation,
                                     std::chrono::milliseconds timeout) {
  return OverlappedRead(AsHandle(pipe), buffer, static_cast<WinReadCancellation*>(cancellation),
                        ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count()));
}

}  // namespace vpn_os
