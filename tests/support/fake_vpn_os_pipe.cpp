// FakeVpnOs: the output pipe, which blocks its reader like a real pipe, and
// the cancellations of its reads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "tests/support/fake_vpn_os.h"

namespace vpn_test {
namespace {

class FakeReadCancellation final : public vpn_os::ReadCancellation {
 public:
  FakeReadCancellation(std::mutex& mutex, std::condition_variable& changed, bool unreachable)
      : mutex_(mutex), changed_(changed), unreachable_(unreachable) {}
  bool Cancel() override {
    if (unreachable_) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_.store(true);
    }
    changed_.notify_all();
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }

 private:
  std::mutex& mutex_;
  std::condition_variable& changed_;
  const bool unreachable_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace

void FakeVpnOs::WriteChildOutput(std::uint32_t process_id, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Process* process = FindProcess(process_id);
  if (process == nullptr || !process->running || !process->output) return;
  process->output->buffer += text;
  pipe_changed_.notify_all();
}


vpn_os::PipeResult FakeVpnOs::CreateOutputPipe() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto error = TakeFailure(Op::kCreateOutputPipe)) {
    Record("CreateOutputPipe failed " + std::to_string(*error));
    return {{}, {}, *error};
  }
  auto pipe = std::make_shared<Pipe>();
  vpn_os::PipeResult result;
  result.read_end = AddHandle(HandleKind::kPipeRead, pipe);
  result.write_end = AddHandle(HandleKind::kPipeWrite, pipe);
  Record("CreateOutputPipe -> " + FindHandle(result.read_end.get())->label + " " +
         FindHandle(result.write_end.get())->label);
  return result;
}

vpn_os::ReadResult FakeVpnOs::Read(vpn_os::NativeHandle pipe_handle, std::span<char> buffer,
                                   vpn_os::ReadCancellation* cancellation) {
  return ReadPipe(pipe_handle, buffer, cancellation, std::nullopt);
}

vpn_os::ReadResult FakeVpnOs::ReadPipe(vpn_os::NativeHandle pipe_handle, std::span<char> buffer,
                                       vpn_os::ReadCancellation* cancellation,
                                       std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  vpn_os::ReadResult result;
  const Handle* handle = FindHandle(pipe_handle);
  if (handle == nullptr || handle->kind != HandleKind::kPipeRead) {
    result.error = kErrorInvalidParameter;
    return result;
  }
  std::shared_ptr<Pipe> pipe = handle->pipe;
  if (auto error = TakeFailure(Op::kRead)) {
    result.error = *error;
    return result;
  }
  auto ready = [&] {
    return !pipe->buffer.empty() || (!pipe->host_write_end_open && pipe->child_writers == 0) ||
           (cancellation != nullptr && cancellation->IsCancelled());
  };
  if (timeout) {
    if (!pipe_changed_.wait_for(lock, *timeout, ready)) {
      result.timed_out = true;
      result.error = kErrorTimeout;
      return result;
    }
  } else {
    pipe_changed_.wait(lock, ready);
  }
  if (!pipe->buffer.empty()) {
    const std::size_t count = std::min(buffer.size(), pipe->buffer.size());
    std::memcpy(buffer.data(), pipe->buffer.data(), count);
    pipe->buffer.erase(0, count);
    result.ok = true;
    result.bytes = count;
    return result;
  }
  if (cancellation != nullptr && cancellation->IsCancelled()) {
    result.cancelled = true;
    result.error = kErrorOperationAborted;
    return result;
  }
  result.error = kErrorBrokenPipe;
  return result;
}

std::unique_ptr<vpn_os::ReadCancellation> FakeVpnOs::CreateReadCancellation() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::make_unique<FakeReadCancellation>(mutex_, pipe_changed_, cancel_unreachable_);
}

void FakeVpnOs::SetCancelUnreachable(bool unreachable) {
  std::lock_guard<std::mutex> lock(mutex_);
  cancel_unreachable_ = unreachable;
}

vpn_os::ReadResult FakeVpnOs::ReadWithTimeout(vpn_os::NativeHandle pipe_handle,
                                              std::span<char> buffer,
                                              vpn_os::ReadCancellation* cancellation,
                                              std::chrono::milliseconds timeout) {
  return ReadPipe(pipe_handle, buffer, cancellation, timeout);
}


}  // namespace vpn_test
