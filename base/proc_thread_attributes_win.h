// Owner of an initialised PROC_THREAD_ATTRIBUTE_LIST and its storage, for
// starting a process that inherits exactly the handles it is meant to.
//
// Threads: one object per thread; use it only while starting the process.
#ifndef VELQA_BASE_PROC_THREAD_ATTRIBUTES_WIN_H_
#define VELQA_BASE_PROC_THREAD_ATTRIBUTES_WIN_H_

#include <windows.h>

#include <vector>

namespace velqa::base {

class ProcThreadAttributes {
 public:
  ProcThreadAttributes() = default;
  ~ProcThreadAttributes() {
    if (initialized_) ::DeleteProcThreadAttributeList(get());
  }
  ProcThreadAttributes(const ProcThreadAttributes&) = delete;
  ProcThreadAttributes& operator=(const ProcThreadAttributes&) = delete;

  bool Initialize(DWORD count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);  // asks for the size
    storage_.resize(size);
    initialized_ = ::InitializeProcThreadAttributeList(get(), count, 0, &size) != FALSE;
    return initialized_;
  }
  // `value` must outlive the list's use.
  bool Update(DWORD_PTR attribute, void* value, SIZE_T size) {
    return ::UpdateProcThreadAttribute(get(), 0, attribute, value, size, nullptr, nullptr) !=
           FALSE;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<unsigned char> storage_;
  bool initialized_ = false;
};

}  // namespace velqa::base

#endif  // VELQA_BASE_PROC_THREAD_ATTRIBUTES_WIN_H_
