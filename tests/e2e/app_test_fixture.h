// What the end-to-end tests of the application share: the fixture that
// starts the bundle with a script of the stand-in Dart side and finds its
// windows, replies and copies.
#ifndef VELQA_TESTS_E2E_APP_TEST_FIXTURE_H_
#define VELQA_TESTS_E2E_APP_TEST_FIXTURE_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "shell/single_instance.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {

namespace fs = std::filesystem;

inline constexpr DWORD kExitTimeoutMs = 20000;

// The bytes as lower-case hex digits.
std::string Hex(const std::string& bytes);

// Index of the first line at or after `from` containing `text`, or -1.
int FindLine(const std::vector<std::string>& lines, const std::string& text, int from = 0);

// Runs the bundle from a scratch working directory, with a sing-box
// configuration under a folder name holding Chinese characters and a blank.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle_ = BundleDirectory();
    ASSERT_TRUE(fs::exists(bundle_ / L"velqa_assistant.exe")) << Utf8(bundle_);
    // A working directory away from the bundle: the data paths must still be
    // found beside the executable.
    work_ = std::make_unique<TempDirectory>(L"velqa_e2e_");
    // Chinese characters and a blank: paths go through the wide interfaces.
    fs::create_directories(work_->path() / L"配置 目录");
    config_ = work_->path() / L"配置 目录" / L"sing-box.json";
    WriteFileBytes(config_, "{\"log\": {\"level\": \"info\"}}\n");
  }

  fs::path Path(const wchar_t* name) const { return work_->path() / name; }

  // Starts the bundle's application (or `executable`) with these arguments.
  void Start(AppProcess& app, const std::vector<std::wstring>& arguments,
             const fs::path& executable = {}) {
    DWORD error = 0;
    const fs::path exe = executable.empty() ? bundle_ / L"velqa_assistant.exe" : executable;
    ASSERT_TRUE(app.Start(exe, arguments, work_->path(), &error)) << "CreateProcess: " << error;
  }

  // Starts with a Dart script and a replies file; returns the replies path.
  fs::path StartScripted(AppProcess& app, const std::string& script,
                         std::vector<std::wstring> extra = {}) {
    const fs::path script_path = Path(L"session.dart-script");
    const fs::path replies = Path(L"replies.txt");
    WriteFileBytes(script_path, script);
    std::vector<std::wstring> arguments = {L"--dart-script",  script_path.wstring(),
                                           L"--dart-replies", replies.wstring(),
                                           L"--dart-events",  Path(L"events.txt").wstring()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    Start(app, arguments);
    return replies;
  }

  HWND WaitForVisibleWindow(const AppProcess& app) {
    HWND window = nullptr;
    WaitFor(
        [&] {
          window = FindAppWindow(app.pid());
          return window != nullptr && ::IsWindowVisible(window);
        },
        kStartTimeoutMs);
    return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
  }

  // The notice that a second copy `app` shows when it is turned away, or
  // null when none of its own appears.
  HWND WaitForNotice(const AppProcess& app) {
    HWND notice = nullptr;
    WaitFor([&] { return (notice = ::FindWindowW(L"#32770", kAlreadyRunningCaption)) != nullptr; },
            kStartTimeoutMs);
    DWORD owner = 0;
    if (notice != nullptr) ::GetWindowThreadProcessId(notice, &owner);
    return owner == app.pid() ? notice : nullptr;
  }

  std::vector<ReplyLine> WaitForReplies(const fs::path& replies, size_t count) {
    WaitFor([&] { return ReadReplies(replies).size() >= count; }, kStartTimeoutMs);
    return ReadReplies(replies);
  }

  // Copies the bundle (without its logs) to `target`.
  void CopyBundle(const fs::path& target, bool with_flutter_assets = true) const {
    for (const auto& entry : fs::recursive_directory_iterator(bundle_)) {
      const fs::path relative = fs::relative(entry.path(), bundle_);
      const std::wstring text = relative.wstring();
      const bool assets =
          text == L"data\\flutter_assets" || text.starts_with(L"data\\flutter_assets\\");
      if (text == L"logs" || text.starts_with(L"logs\\") || (assets && !with_flutter_assets)) {
        continue;
      }
      if (entry.is_directory()) {
        fs::create_directories(target / relative);
      } else {
        fs::create_directories((target / relative).parent_path());
        fs::copy_file(entry.path(), target / relative);
      }
    }
  }

  // Starts with a script that starts sing-box and then waits; `sing_box`
  // gets the one sing-box child. Use with ASSERT_NO_FATAL_FAILURE.
  void StartWithSingBox(AppProcess& app, DWORD* sing_box, std::vector<std::wstring> extra = {}) {
    const fs::path replies = StartScripted(app, StartVpnCall() + "sleep 120000\n", extra);
    const std::vector<ReplyLine> started = WaitForReplies(replies, 1);
    ASSERT_EQ(started.size(), 1u) << app.Output();
    ASSERT_EQ(started[0].reply.kind, Reply::Kind::kSuccess) << started[0].hex;
    const std::vector<DWORD> children = ChildProcesses(app.pid(), kSingBoxImage);
    ASSERT_EQ(children.size(), 1u);
    *sing_box = children[0];
  }

  std::string StartVpnCall() const {
    return "call start_vpn {\"config_path\": " + vpn_test::JsonString(Utf8(config_)) + "}\n";
  }

  fs::path bundle_;
  std::unique_ptr<TempDirectory> work_;
  fs::path config_;
};

}  // namespace velqa::e2e

#endif  // VELQA_TESTS_E2E_APP_TEST_FIXTURE_H_
