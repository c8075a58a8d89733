#include "shell/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "shell/win_resources.h"

std::string WideToUtf8(const wchar_t* wide) {
  if (wide == nullptr) return {};
  // WC_ERR_INVALID_CHARS makes an unpaired surrogate fail the conversion
  // instead of turning into U+FFFD.
  const int length_with_nul =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length_with_nul <= 1) return {};
  const int length = length_with_nul - 1;
  std::string utf8(static_cast<size_t>(length), '\0');
  const int written =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, static_cast<int>(wcslen(wide)),
                            utf8.data(), length, nullptr, nullptr);
  if (written == 0) return {};
  return utf8;
}

std::vector<std::string> CollectCommandLineArguments(const wchar_t* command_line) {
  std::vector<std::string> arguments;
  int argc = 0;
  velqa::shell::UniqueLocalMemory<LPWSTR> argv(::CommandLineToArgvW(command_line, &argc));
  if (!argv) return arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(WideToUtf8(argv.get()[i]));
  return arguments;
}

std::vector<std::string> CollectCommandLineArguments() {
  return CollectCommandLineArguments(::GetCommandLineW());
}
