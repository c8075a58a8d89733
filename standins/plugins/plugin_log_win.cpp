#include "standins/plugins/plugin_log_win.h"

#include <windows.h>

#include <string>

#include "base/win_resources_win.h"
#include "standins/flutter_windows/registrar_text.h"

namespace velqa::standin {

void LogPluginRegistration(const char* plugin_name, const void* registrar) {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(L"VELQA_PLUGIN_LOG", path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return;
  const std::string line =
      std::string(plugin_name) +
      (registrar != nullptr ? " registered with registrar " + RegistrarText(registrar) + "\n"
                            : " registered without registrar\n");
  base::UniqueHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace velqa::standin
