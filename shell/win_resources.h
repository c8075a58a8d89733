// Move-only owners of the Windows resources the shell holds: kernel handles,
// LocalAlloc'ed memory, menus, registry keys and icons. Each frees its
// resource with the one call that matches it, and nothing in the shell frees
// one by hand.
//
// Threads: an owner is used by one thread at a time, like the resource it holds.
#ifndef VELQA_SHELL_WIN_RESOURCES_H_
#define VELQA_SHELL_WIN_RESOURCES_H_

#include <windows.h>

#include <memory>
#include <type_traits>

namespace velqa::shell {

// A kernel handle (mutex, file, process, ...). Null and INVALID_HANDLE_VALUE
// both mean "none", since Win32 calls use either one for failure.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  void Reset(HANDLE handle = nullptr) {
    if (IsValid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

struct LocalFreeDeleter {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
// Memory a Win32 call allocated with LocalAlloc (CommandLineToArgvW, ...).
template <typename T>
using UniqueLocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

struct MenuDeleter {
  using pointer = HMENU;
  void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

struct RegistryKeyDeleter {
  using pointer = HKEY;
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueRegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyDeleter>;

struct IconDeleter {
  using pointer = HICON;
  void operator()(HICON icon) const { ::DestroyIcon(icon); }
};
// An icon loaded with LoadImageW without LR_SHARED (shared icons must not be
// destroyed).
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

}  // namespace velqa::shell

#endif  // VELQA_SHELL_WIN_RESOURCES_H_
