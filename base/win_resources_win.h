// Owners of the Windows resources the host, its installer helper and the
// stand-ins hold: one name per kind, each releasing with the one call that
// matches it.
//
// Threads: see base/unique_resource.h. A window, like a menu attached to it,
// must be destroyed on the thread that created it.
#ifndef VELQA_BASE_WIN_RESOURCES_WIN_H_
#define VELQA_BASE_WIN_RESOURCES_WIN_H_

#include <windows.h>

#include "base/unique_resource.h"

namespace velqa::base {

// Kernel handles (mutex, file, process, thread, snapshot, ...). Null and
// INVALID_HANDLE_VALUE both mean "none": Win32 calls fail with either one.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static HANDLE None() { return nullptr; }
  static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  void Close(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// One load of a library (LoadLibrary).
struct ModuleTraits {
  using Handle = HMODULE;
  static HMODULE None() { return nullptr; }
  static bool IsValid(HMODULE module) { return module != nullptr; }
  void Close(HMODULE module) const { ::FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static HKEY None() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  void Close(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

// An icon loaded without LR_SHARED (shared icons must not be destroyed).
struct IconTraits {
  using Handle = HICON;
  static HICON None() { return nullptr; }
  static bool IsValid(HICON icon) { return icon != nullptr; }
  void Close(HICON icon) const { ::DestroyIcon(icon); }
};
using UniqueIcon = UniqueResource<IconTraits>;

// A menu not attached to a window (a window destroys its own menu).
struct MenuTraits {
  using Handle = HMENU;
  static HMENU None() { return nullptr; }
  static bool IsValid(HMENU menu) { return menu != nullptr; }
  void Close(HMENU menu) const { ::DestroyMenu(menu); }
};
using UniqueMenu = UniqueResource<MenuTraits>;

// A pen, brush, bitmap or font; it must not be selected into a DC when freed.
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static HGDIOBJ None() { return nullptr; }
  static bool IsValid(HGDIOBJ object) { return object != nullptr; }
  void Close(HGDIOBJ object) const { ::DeleteObject(object); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

struct WindowTraits {
  using Handle = HWND;
  static HWND None() { return nullptr; }
  static bool IsValid(HWND window) { return window != nullptr; }
  void Close(HWND window) const { ::DestroyWindow(window); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

// A device context made with CreateCompatibleDC.
struct MemoryDcTraits {
  using Handle = HDC;
  static HDC None() { return nullptr; }
  static bool IsValid(HDC dc) { return dc != nullptr; }
  void Close(HDC dc) const { ::DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

// A device context from GetDC, given back to the window it came from (null
// for the screen).
struct WindowDcTraits {
  using Handle = HDC;
  HWND window = nullptr;
  static HDC None() { return nullptr; }
  static bool IsValid(HDC dc) { return dc != nullptr; }
  void Close(HDC dc) const { ::ReleaseDC(window, dc); }
};
using UniqueWindowDc = UniqueResource<WindowDcTraits>;

// Memory a Win32 call allocated with LocalAlloc (CommandLineToArgvW, ...).
template <typename T>
struct LocalMemoryTraits {
  using Handle = T*;
  static T* None() { return nullptr; }
  static bool IsValid(T* memory) { return memory != nullptr; }
  void Close(T* memory) const { ::LocalFree(memory); }
};
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;

}  // namespace velqa::base

#endif  // VELQA_BASE_WIN_RESOURCES_WIN_H_
