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

// What the kinds below share: null is "none".
template <typename H>
struct NullMeansNone {
  using Handle = H;
  static H None() { return nullptr; }
  static bool IsValid(H handle) { return handle != nullptr; }
};

// One load of a library (LoadLibrary).
struct ModuleTraits : NullMeansNone<HMODULE> {
  void Close(HMODULE module) const { ::FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct RegistryKeyTraits : NullMeansNone<HKEY> {
  void Close(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

// An icon loaded without LR_SHARED (shared icons must not be destroyed).
struct IconTraits : NullMeansNone<HICON> {
  void Close(HICON icon) const { ::DestroyIcon(icon); }
};
using UniqueIcon = UniqueResource<IconTraits>;

// A menu not attached to a window (a window destroys its own menu).
struct MenuTraits : NullMeansNone<HMENU> {
  void Close(HMENU menu) const { ::DestroyMenu(menu); }
};
using UniqueMenu = UniqueResource<MenuTraits>;

// A pen, brush, bitmap or font; it must not be selected into a DC when freed.
struct GdiObjectTraits : NullMeansNone<HGDIOBJ> {
  void Close(HGDIOBJ object) const { ::DeleteObject(object); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

struct WindowTraits : NullMeansNone<HWND> {
  void Close(HWND window) const { ::DestroyWindow(window); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

// A device context made with CreateCompatibleDC.
struct MemoryDcTraits : NullMeansNone<HDC> {
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
struct LocalMemoryTraits : NullMeansNone<T*> {
  void Close(T* memory) const { ::LocalFree(memory); }
};
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;

// A view of a file mapping (MapViewOfFile).
struct MappedViewTraits : NullMeansNone<void*> {
  void Close(void* view) const { ::UnmapViewOfFile(view); }
};
using UniqueMappedView = UniqueResource<MappedViewTraits>;

}  // namespace velqa::base

#endif  // VELQA_BASE_WIN_RESOURCES_WIN_H_
