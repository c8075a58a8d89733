// The Linux VpnOs's handles: keys into a table of the objects they stand
// for. Pipe ends (descriptors), processes, jobs (a process group watched by
// a JobGuard) and placeholders for what Linux does not have (tokens, thread
// handles). An object is shared, so a call that found it keeps it alive even
// if another thread closes the handle meanwhile.
//
// Threads: any thread; the table has its own lock.
#ifndef VELQA_VPN_OS_HANDLE_TABLE_POSIX_H_
#define VELQA_VPN_OS_HANDLE_TABLE_POSIX_H_

#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "vpn/os/job_guard_posix.h"
#include "vpn/os/process_object_posix.h"
#include "base/unique_fd_posix.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

struct FdObject {
  velqa::base::UniqueFd fd;
};

struct JobObject {
  std::mutex mutex;
  JobGuard guard;
  // The leaders of the job's process groups, kept unreaped until the job
  // has ended them.
  std::vector<std::shared_ptr<ProcessObject>> leaders;
};

struct Placeholder {};

using HandleObject = std::variant<std::shared_ptr<FdObject>, std::shared_ptr<ProcessObject>,
                                  std::shared_ptr<JobObject>, Placeholder>;

class HandleTable {
 public:
  template <typename T>
  NativeHandle Add(T object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const NativeHandle handle = next_handle_++;
    objects_.emplace(handle, HandleObject(std::move(object)));
    return handle;
  }

  // The object behind `handle` if it is a T, else null.
  template <typename T>
  std::shared_ptr<T> Find(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return nullptr;
    auto* object = std::get_if<std::shared_ptr<T>>(&found->second);
    return object != nullptr ? *object : nullptr;
  }

  bool Exists(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.count(handle) != 0;
  }

  // Moves the object out of the table into `object`; false when the handle
  // is unknown.
  bool Remove(NativeHandle handle, HandleObject& object) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return false;
    object = std::move(found->second);
    objects_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<NativeHandle, HandleObject> objects_;
  NativeHandle next_handle_ = 0x100;
};

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_HANDLE_TABLE_POSIX_H_
