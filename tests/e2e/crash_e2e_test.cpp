// Crash reports of the bundled application under Wine: the stand-in engine's
// scripted Dart side crashes the host process while sing-box runs (also with
// the heap or the stdout lock taken, which no code of the crashed process may
// then need), and the test reads the dump, the log record, the exit code, the
// processes left and how long the host took to end after the crash.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "shell/crash_dump_win.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/minidump_reader.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Far below the 20 s a crashed host waits for a watcher that hangs, and the
// 30 s a report that waited for a lock took.
constexpr ULONGLONG kCrashToExitLimitMs = 10000;

struct CrashCase {
  const char* name;
  const char* command;  // after "crash "
  DWORD code;
};

class CrashSession : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle_ = BundleDirectory();
    ASSERT_TRUE(fs::exists(bundle_ / L"velqa_assistant.exe")) << Utf8(bundle_);
    work_ = std::make_unique<TempDirectory>(L"velqa_crash_");
  }

  // Starts the bundle with a script that starts sing-box, then runs `rest`.
  void StartCrashing(AppProcess& app, const std::string& rest) {
    const fs::path config = work_->path() / L"sing-box.json";
    const fs::path script = work_->path() / L"crash.dart-script";
    WriteFileBytes(config, "{}\n");
    WriteFileBytes(script, "call start_vpn {\"config_path\": " + vpn_test::JsonString(Utf8(config)) +
                               "}\n" + rest);
    DWORD error = 0;
    ASSERT_TRUE(app.Start(bundle_ / L"velqa_assistant.exe",
                          {L"--dart-script", script.wstring(), L"--dart-replies", replies().wstring(),
                           L"--dart-events", events().wstring()},
                          work_->path(), &error))
        << error;
  }

  // Milliseconds from the stand-in's "crash line" event to the end of `app`
  // (with its exit code), or nullopt when it did not end within a minute.
  std::optional<std::pair<ULONGLONG, DWORD>> TimeCrashToExit(AppProcess& app) {
    std::optional<ULONGLONG> crashed_at;
    std::optional<DWORD> code;
    WaitFor(
        [&] {
          if (!crashed_at && ReadFileBytes(events()).find("crash line") != std::string::npos) {
            crashed_at = ::GetTickCount64();
          }
          code = app.WaitForExit(0);
          return code.has_value();
        },
        60000);
    if (!code) return std::nullopt;
    const ULONGLONG ended_at = ::GetTickCount64();
    return std::make_pair(crashed_at ? ended_at - *crashed_at : ended_at, *code);
  }

  fs::path replies() const { return work_->path() / L"replies.txt"; }
  fs::path events() const { return work_->path() / L"events.txt"; }

  fs::path bundle_;
  std::unique_ptr<TempDirectory> work_;
};

class CrashTest : public CrashSession, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(CrashTest, WritesADumpAndAnErrorRecordAndEndsWithTheCodeTakingSingBoxAlong) {
  const fs::path logs = bundle_ / L"logs";
  const std::set<fs::path> dumps_before = testing::DumpFiles(logs);
  LogWatch log(bundle_);

  AppProcess app;
  StartCrashing(app, std::string("crash ") + GetParam().command + "\n");
  const auto ended = TimeCrashToExit(app);
  // What the scripted Dart side got to, for a run that cannot be repeated.
  ASSERT_TRUE(ended.has_value()) << app.Output() << "\nevents:\n" << ReadFileBytes(events())
                                 << "\nreplies:\n" << ReadFileBytes(replies());
  EXPECT_EQ(testing::CrashCodeText(ended->second), testing::CrashCodeText(GetParam().code))
      << app.Output();
  EXPECT_LT(ended->first, kCrashToExitLimitMs) << ReadFileBytes(events());

  // sing-box ran when the host crashed, and went with it.
  const std::vector<ReplyLine> lines = ReadReplies(replies());
  ASSERT_EQ(lines.size(), 1u) << app.Output();
  EXPECT_EQ(lines[0].reply.kind, Reply::Kind::kSuccess) << lines[0].hex;
  EXPECT_TRUE(
      WaitFor([&] { return ChildProcesses(app.pid(), L"sing-box-amd64.exe").empty(); }, 10000))
      << "sing-box left";

  std::vector<fs::path> new_dumps;
  for (const fs::path& dump : testing::DumpFiles(logs)) {
    if (!dumps_before.contains(dump)) new_dumps.push_back(dump);
  }
  ASSERT_EQ(new_dumps.size(), 1u) << app.Output();
  const std::string name = Utf8(new_dumps[0].filename());
  EXPECT_THAT(name, ::testing::MatchesRegex(
                        "velqa_\\d\\d\\d\\d\\d\\d\\d\\d_\\d\\d\\d\\d\\d\\d_?\\d?\\.dmp"));
  const testing::MinidumpFacts dump = testing::ReadMinidump(new_dumps[0]);
  EXPECT_TRUE(dump.signature);
  ASSERT_TRUE(dump.has_exception);
  EXPECT_EQ(testing::CrashCodeText(dump.crash_code), testing::CrashCodeText(GetParam().code));
  EXPECT_FALSE(dump.threads_with_stack.empty());
  // Wine's dump writer leaves out a thread whose stack pointer has run past
  // its stack; Windows keeps it.
  if (GetParam().code != EXCEPTION_STACK_OVERFLOW) {
    EXPECT_THAT(dump.threads_with_stack, ::testing::Contains(dump.exception_thread));
  }

  // One ERROR record names the code, the thread and the dump.
  int crash_records = 0;
  for (const std::string& record : log.NewRecords()) {
    if (record.find("[ERROR] [Main]") == std::string::npos) continue;
    ++crash_records;
    EXPECT_THAT(record, HasSubstr(testing::CrashCodeText(GetParam().code)));
    EXPECT_THAT(record, HasSubstr("线程 " + std::to_string(dump.exception_thread)));
    EXPECT_THAT(record, HasSubstr(name));
  }
  EXPECT_EQ(crash_records, 1) << Utf8(log.File());
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashTest,
    ::testing::Values(CrashCase{"AccessViolation", "access-violation", EXCEPTION_ACCESS_VIOLATION},
                      CrashCase{"AccessViolationOnAWorker", "access-violation worker",
                                EXCEPTION_ACCESS_VIOLATION},
                      CrashCase{"StackOverflow", "stack-overflow", EXCEPTION_STACK_OVERFLOW},
                      CrashCase{"IllegalInstruction", "illegal-instruction",
                                EXCEPTION_ILLEGAL_INSTRUCTION},
                      CrashCase{"StackOverflowOnAWorker", "stack-overflow worker",
                                EXCEPTION_STACK_OVERFLOW},
                      CrashCase{"WithTheHeapLocked", "heap-locked", EXCEPTION_ACCESS_VIOLATION},
                      CrashCase{"WithStdoutLocked", "stdout-locked", EXCEPTION_ACCESS_VIOLATION},
                      // The stand-in has a C++ runtime of its own, which ends this in abort.
                      CrashCase{"TerminateInALibrary", "terminate worker", shell::kAbortCrashCode}),
    [](const ::testing::TestParamInfo<CrashCase>& info) { return std::string(info.param.name); });

// A crash with the watcher gone still ends the host at once with its code;
// nothing is left to write a dump.
using WatcherGoneTest = CrashSession;

TEST_F(WatcherGoneTest, ACrashStillEndsTheHostAtOnceWithItsCode) {
  const std::set<fs::path> dumps_before = testing::DumpFiles(bundle_ / L"logs");
  AppProcess app;
  StartCrashing(app, "sleep 3000\ncrash heap-locked\n");
  std::vector<DWORD> watchers;
  ASSERT_TRUE(WaitFor([&] { return !(watchers = ChildProcesses(app.pid(), shell::kCrashWatcherFileName)).empty(); },
                      10000));
  ASSERT_EQ(watchers.size(), 1u);
  {
    base::UniqueHandle watcher(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, watchers[0]));
    ASSERT_TRUE(watcher.is_valid());
    ASSERT_TRUE(::TerminateProcess(watcher.get(), 1));
    ASSERT_EQ(::WaitForSingleObject(watcher.get(), 5000), WAIT_OBJECT_0);
  }
  ASSERT_TRUE(ReadFileBytes(events()).find("crash line") == std::string::npos)
      << "crashed before the watcher was gone";

  const auto ended = TimeCrashToExit(app);
  ASSERT_TRUE(ended.has_value()) << app.Output();
  EXPECT_EQ(testing::CrashCodeText(ended->second),
            testing::CrashCodeText(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_LT(ended->first, 3000u);
  EXPECT_TRUE(WaitFor([&] { return ChildProcesses(app.pid(), L"sing-box-amd64.exe").empty(); },
                      10000))
      << "sing-box left";
  EXPECT_EQ(testing::DumpFiles(bundle_ / L"logs"), dumps_before);
}

}  // namespace
}  // namespace velqa::e2e
