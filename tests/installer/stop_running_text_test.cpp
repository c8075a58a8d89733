// What the installer's helper prints reaches setup intact whatever the ANSI
// code page: the probe setup runs the helper the way setup does while a
// sing-box runs from a folder with Chinese characters, and the helper's line
// about ending it must come back with that path. Run by the CTest entries
// installer_stop_running_text_cp936 and _cp1252, which start it under those
// code pages (VELQA_EXPECT_ACP names the one).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "installer/stop_running/process_paths.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;

std::wstring ReadUtf16File(const fs::path& file) {
  std::string bytes = ReadFileBytes(file);
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  return text;
}

TEST(StopRunningTextTest, SetupGetsTheHelpersLinesWhateverTheAnsiCodePage) {
  const char* code_page = std::getenv("VELQA_EXPECT_ACP");
  if (code_page == nullptr) GTEST_SKIP() << "run under a chosen code page by its CTest entries";
  ASSERT_EQ(::GetACP(), std::strtoul(code_page, nullptr, 10));

  TempDirectory work(L"velqa_text_");
  const fs::path folder = work.path() / L"Velqa电商助手 目录";
  fs::create_directories(folder);
  const fs::path built = BundleDirectory().parent_path() / L"bin";
  fs::copy_file(built / L"stop_running_probe.exe", folder / L"stop_running_probe.exe");
  fs::copy_file(BundleDirectory() / L"data" / L"sing-box-amd64.exe",
                folder / L"sing-box-amd64.exe");
  const fs::path config = work.path() / L"sing-box.json";
  WriteFileBytes(config, "{}\n");

  AppProcess sing_box;
  ASSERT_TRUE(sing_box.Start(folder / L"sing-box-amd64.exe", {L"run", L"-c", config.wstring()},
                             work.path()));
  ASSERT_TRUE(sing_box.WaitForOutput("started", 30000)) << sing_box.Output();
  const std::optional<std::wstring> image = installer::ProcessImagePath(sing_box.pid());
  ASSERT_TRUE(image.has_value());
  ASSERT_NE(image->find(L"电商助手"), std::wstring::npos);

  AppProcess probe;
  ASSERT_TRUE(probe.Start(folder / L"stop_running_probe.exe", {}, work.path()));
  ASSERT_EQ(probe.WaitForExit(60000), std::optional<DWORD>(0));
  const std::wstring output = ReadUtf16File(folder / L"output.txt");
  EXPECT_TRUE(output.starts_with(L"0\n")) << Utf8(output);
  EXPECT_NE(output.find(L"ended process " + std::to_wstring(sing_box.pid()) + L" " + *image),
            std::wstring::npos)
      << Utf8(output);
}

}  // namespace
}  // namespace velqa::e2e
