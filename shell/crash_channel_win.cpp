#include "shell/crash_channel_win.h"

#include <cwchar>

namespace velqa::shell {
namespace {

std::wstring HandleText(HANDLE handle) {
  return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle));
}

}  // namespace

std::wstring FormatCrashWatcherArguments(const CrashWatcherHandles& handles) {
  return HandleText(handles.host) + L' ' + HandleText(handles.request) + L' ' +
         HandleText(handles.crashed) + L' ' + HandleText(handles.reported);
}

std::optional<CrashWatcherHandles> ParseCrashWatcherArguments(const std::wstring& arguments) {
  HANDLE values[4] = {};
  const wchar_t* position = arguments.c_str();
  for (HANDLE& value : values) {
    wchar_t* end = nullptr;
    const unsigned long long number = std::wcstoull(position, &end, 10);
    if (end == position || number == 0) return std::nullopt;
    value = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    position = end;
  }
  while (*position == L' ' || *position == L'\t') ++position;
  if (*position != L'\0') return std::nullopt;
  return CrashWatcherHandles{values[0], values[1], values[2], values[3]};
}

}  // namespace velqa::shell
