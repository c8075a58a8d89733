// Crash reports of the bundled application under Wine: the stand-in engine's
// scripted Dart side crashes the host process while sing-box runs, and the
// test reads the dump, the log record, the exit code and the processes left.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "shell/crash_dump_win.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/minidump_reader.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct CrashCase {
  const char* name;
  const char* command;  // after "crash "
  DWORD code;
};

class CrashTest : public ::testing::TestWithParam<CrashCase> {
 protected:
  void SetUp() override {
    bundle_ = BundleDirectory();
    ASSERT_TRUE(fs::exists(bundle_ / L"velqa_assistant.exe")) << Utf8(bundle_);
    work_ = std::make_unique<TempDirectory>(L"velqa_crash_");
  }

  fs::path bundle_;
  std::unique_ptr<TempDirectory> work_;
};

TEST_P(CrashTest, WritesADumpAndAnErrorRecordAndEndsWithTheCodeTakingSingBoxAlong) {
  const fs::path logs = bundle_ / L"logs";
  const fs::path config = work_->path() / L"sing-box.json";
  const fs::path script = work_->path() / L"crash.dart-script";
  const fs::path replies = work_->path() / L"replies.txt";
  WriteFileBytes(config, "{}\n");
  std::string config_json;
  for (char c : Utf8(config)) config_json += c == '\\' ? std::string("\\\\") : std::string(1, c);
  WriteFileBytes(script, "call start_vpn {\"config_path\": \"" + config_json + "\"}\ncrash " +
                             GetParam().command + "\n");
  const std::set<fs::path> dumps_before = testing::DumpFiles(logs);
  LogWatch log(bundle_);

  AppProcess app;
  DWORD error = 0;
  ASSERT_TRUE(app.Start(bundle_ / L"velqa_assistant.exe",
                        {L"--dart-script", script.wstring(), L"--dart-replies", replies.wstring()},
                        work_->path(), &error))
      << error;
  EXPECT_EQ(app.WaitForExit(60000), std::optional<DWORD>(GetParam().code)) << app.Output();

  // sing-box ran when the host crashed, and went with it.
  const std::vector<ReplyLine> lines = ReadReplies(replies);
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
                      // The stand-in has a C++ runtime of its own, which ends this in abort.
                      CrashCase{"TerminateInALibrary", "terminate worker", shell::kAbortCrashCode}),
    [](const ::testing::TestParamInfo<CrashCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velqa::e2e
