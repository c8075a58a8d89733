// Functions of Windows libraries that are not KnownDLLs (version.dll,
// dwmapi.dll, dbghelp.dll, ...). The program runs elevated, also from a folder
// a standard user can write to, and the loader looks for a static import that
// is not a KnownDLL beside the executable first: such libraries are loaded at
// run time from System32 alone. Any thread may call these.
#ifndef VELQA_BASE_SYSTEM_LIBRARY_WIN_H_
#define VELQA_BASE_SYSTEM_LIBRARY_WIN_H_

#include <windows.h>

#include "base/win_resources_win.h"

namespace velqa::base {

// The library `name` (e.g. L"version.dll") from System32; none when missing.
inline UniqueModule LoadSystemLibrary(const wchar_t* name) {
  return UniqueModule(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// The export `name` of a loaded library as a `Function` pointer type; null
// when the library is none or lacks the export.
template <typename Function>
Function SystemFunction(const UniqueModule& library, const char* name) {
  if (!library.is_valid()) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library.get(), name)));
}

}  // namespace velqa::base

#endif  // VELQA_BASE_SYSTEM_LIBRARY_WIN_H_
