#include "shell/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/win_resources_win.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(CollectCommandLineArgumentsTest, SkipsTheProgramAndKeepsOrderBlanksAndUtf8) {
  EXPECT_THAT(CollectCommandLineArguments(L"velqa_assistant.exe"), IsEmpty());
  EXPECT_THAT(CollectCommandLineArguments(L"\"C:\\Program Files\\v.exe\" a \"b c\" \u00fc"),
              ElementsAre("a", "b c", "\xC3\xBC"));
}

TEST(CollectCommandLineArgumentsTest, AnUnconvertibleArgumentKeepsItsPlaceAsEmpty) {
  EXPECT_THAT(CollectCommandLineArguments(L"v.exe first \xD800 last"),
              ElementsAre("first", "", "last"));
  EXPECT_THAT(CollectCommandLineArguments(L"v.exe \"\" x"), ElementsAre("", "x"));
}

// Starts command_line_probe (beside this test) with `command_line` and
// returns the lines it wrote: the arguments it collected from its own process.
std::vector<std::string> ArgumentsSeenByProbe(std::wstring command_line) {
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::filesystem::path probe =
      std::filesystem::path(module).parent_path() / L"command_line_probe.exe";

  // A file, not a pipe: a helper process Wine starts beside a console
  // program could inherit a pipe's write end and keep a read waiting.
  // One name per run: the last run's file may still be on its way out.
  static int runs = 0;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      (L"velqa_command_line_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
       std::to_wstring(++runs) + L".txt");
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  velqa::base::UniqueHandle output(
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!output.is_valid()) return {"<no output file>"};

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(probe.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    return {"<probe not started>"};
  }
  velqa::base::UniqueHandle process(info.hProcess);
  velqa::base::UniqueHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return {"<probe hangs>"};

  // The probe wrote through the same file object, so its position is shared.
  ::SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN);
  std::string text;
  char buffer[512];
  DWORD read = 0;
  while (::ReadFile(output.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(CollectCommandLineArgumentsTest, ReadsTheCommandLineOfItsOwnProcess) {
  // The program name (here with a blank and not the probe's real name) is
  // skipped whatever it is.
  EXPECT_THAT(ArgumentsSeenByProbe(L"\"C:\\Program Files\\velqa.exe\""), IsEmpty());
  EXPECT_THAT(ArgumentsSeenByProbe(L"\"C:\\Program Files\\velqa.exe\" a \"b c\" \u00fc "
                                   L"x\xD800y \"\" \u7535\u5546"),
              ElementsAre("a", "b c", "\xC3\xBC", "", "", "\xE7\x94\xB5\xE5\x95\x86"));
}

}  // namespace
