#include "shell/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "base/utf16_text.h"
#include "base/win_resources_win.h"

std::vector<std::string> CollectCommandLineArguments(const wchar_t* command_line) {
  std::vector<std::string> arguments;
  int argc = 0;
  velqa::base::UniqueLocalMemory<LPWSTR> argv(::CommandLineToArgvW(command_line, &argc));
  if (!argv) return arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(velqa::base::Utf8FromWide(argv.get()[i]).value_or(std::string()));
  return arguments;
}

std::vector<std::string> CollectCommandLineArguments() {
  return CollectCommandLineArguments(::GetCommandLineW());
}
