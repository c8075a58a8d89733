// start_vpn against the scripted fake OS: every reply's exact code and
// message, the handles each outcome leaves open, and the order of the OS
// calls, records and console lines, up to a child that runs or ended at once.
#include "tests/vpn_lifecycle/fake_lifecycle_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace vpn_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using Strings = std::vector<std::string>;

// --- start_vpn: arguments and files ---

TEST_F(FakeLifecycleTest, ArgumentErrorsTouchNothing) {
  ExpectError(StartWith(nullptr), "INVALID_ARGUMENTS", "Missing arguments");
  ExpectError(StartWith(std::make_unique<EncodableValue>()), "INVALID_ARGUMENTS",
              "Arguments must be a map");
  ExpectError(StartWith(std::make_unique<EncodableValue>(EncodableList{EncodableValue(kConfig)})),
              "INVALID_ARGUMENTS", "Arguments must be a map");
  ExpectError(StartWith(std::make_unique<EncodableValue>(EncodableMap{})), "INVALID_ARGUMENTS",
              "Missing config_path argument");
  ExpectError(StartWith(std::make_unique<EncodableValue>(
                  EncodableMap{{EncodableValue(1), EncodableValue(kConfig)}})),
              "INVALID_ARGUMENTS", "Missing config_path argument");
  ExpectError(StartWith(std::make_unique<EncodableValue>(
                  EncodableMap{{EncodableValue("config_path"), EncodableValue(5)}})),
              "INVALID_ARGUMENTS", "config_path must be a string");
  EXPECT_THAT(os_.CallNames(), IsEmpty());
  EXPECT_EQ(recorder_.CountRecords("HandleStartVpnMethod called", kTag), 6);
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, ConfigurationMissingEmptyOrUnreadable) {
  ExpectError(Start("/cfg/absent.json"), "CONFIG_NOT_FOUND", "Configuration file not found");
  ExpectError(Start(""), "CONFIG_NOT_FOUND", "Configuration file not found");
  // A failure of the existence test other than not-found is answered too.
  os_.SetPathError("/cfg/locked.json", vpn_test::kErrorAccessDenied);
  ExpectError(Start("/cfg/locked.json"), "CONFIG_NOT_FOUND", "Configuration file not found");
  EXPECT_THAT(recorder_.Records(kTag), Contains("Configuration file check failed, error: 5"));
  // Text that is not UTF-8 names no file, even where the system could name
  // one so (Windows cannot even make it a path): one answer, not found.
  const std::string not_utf8 = "/cfg/\xff\xfe.json";
  try {
    os_.AddPath(not_utf8);
  } catch (const std::exception&) {
  }
  ExpectError(Start(not_utf8), "CONFIG_NOT_FOUND", "Configuration file not found");
  EXPECT_THAT(recorder_.Records(kTag), Contains("Configuration path is not valid UTF-8"));
  EXPECT_THAT(recorder_.ConsoleLines(),
              Not(Contains("VpnManager: Config file exists: /cfg/absent.json")));
  EXPECT_THAT(Calls(os_), IsEmpty());
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, ExecutableNotFound) {
  os_.RemovePath(kExe);
  ExpectError(Start(), "EXECUTABLE_NOT_FOUND", "sing-box executable not found");
  EXPECT_THAT(Calls(os_), ElementsAre("ExecutablePath"));
  ExpectIdleWithNothingOpen();
}

// The executable vanishes (or cannot be queried) between discovery and the
// check just before the launch.
class VanishingExecutableOs : public FakeVpnOs {
 public:
  std::optional<vpn_os::PathState> second_answer;
  vpn_os::PathExistsResult PathExists(const std::filesystem::path& path) override {
    vpn_os::PathExistsResult result = FakeVpnOs::PathExists(path);
    if (path == kExe && ++queries_ == 2 && second_answer) {
      return {*second_answer, vpn_test::kErrorAccessDenied};
    }
    return result;
  }

 private:
  int queries_ = 0;
};

TEST(FakeLifecycleVanishTest, ExecutableGoneOrUnreadableAtTheSecondCheck) {
  NativeLogger::GetInstance().Initialize();
  for (auto state : {vpn_os::PathState::kNotFound, vpn_os::PathState::kError}) {
    VanishingExecutableOs os;
    os.SetExecutablePath("/velqa/velqa_assistant.exe");
    os.AddPath(kExe);
    os.AddPath(kConfig);
    os.second_answer = state;
    OutputRecorder recorder;
    VpnManager manager(os);
    Answer reply = StartVpn(manager, kConfig);
    EXPECT_EQ(reply.code, "EXECUTABLE_NOT_FOUND");
    EXPECT_EQ(reply.message, "sing-box executable file not found");
    EXPECT_THAT(recorder.ConsoleLines(), Contains("VpnManager: Using executable: " + kFoundExe));
    EXPECT_THAT(recorder.Records(kTag), Not(Contains("Executable file verified")));
    EXPECT_EQ(recorder.CountRecords("Executable file check failed, error: 5", kTag),
              state == vpn_os::PathState::kError ? 1 : 0);
    EXPECT_THAT(os.OpenHandles(), IsEmpty());
  }
}

// --- start_vpn: every OS failure and what it leaves open ---

struct OsFailureCase {
  Op op;
  const char* code;
  const char* message;
  Strings calls;  // the OS calls made, in order (PathExists left out)
};

void PrintTo(const OsFailureCase& c, std::ostream* out) { *out << c.code << " / " << c.message; }

class StartFailureTest : public FakeLifecycleTest,
                         public ::testing::WithParamInterface<OsFailureCase> {};

TEST_P(StartFailureTest, AnswersTheErrorAndClosesWhatItOpened) {
  const OsFailureCase& c = GetParam();
  os_.FailNext(c.op, vpn_test::kErrorAccessDenied);
  ExpectError(Start(), c.code, c.message);
  EXPECT_EQ(Calls(os_), c.calls);
  ExpectIdleWithNothingOpen();
  EXPECT_THAT(os_.Sleeps(), IsEmpty());
}

const Strings kThroughPipe = {"ExecutablePath", "CreateJob", "ConfigureKillOnClose",
                              "CreateOutputPipe"};
Strings Plus(Strings base, const Strings& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StartFailureTest,
    ::testing::Values(
        OsFailureCase{Op::kCreateJob,
                      "JOB_CREATION_FAILED",
                      "Failed to create Job Object",
                      {"ExecutablePath", "CreateJob"}},
        OsFailureCase{Op::kConfigureKillOnClose,
                      "JOB_CONFIG_FAILED",
                      "Failed to configure Job Object",
                      {"ExecutablePath", "CreateJob", "ConfigureKillOnClose", "Close"}},
        OsFailureCase{Op::kCreateOutputPipe, "PIPE_CREATION_FAILED", "Failed to create output pipe",
                      Plus(kThroughPipe, {"Close"})},
        OsFailureCase{Op::kOpenOwnProcessToken, "TOKEN_ERROR", "Failed to open process token",
                      Plus(kThroughPipe, {"OpenOwnProcessToken", "Close", "Close", "Close"})},
        OsFailureCase{Op::kDuplicatePrimaryToken, "TOKEN_ERROR", "Failed to duplicate token",
                      Plus(kThroughPipe, {"OpenOwnProcessToken", "DuplicatePrimaryToken", "Close",
                                          "Close", "Close", "Close"})},
        OsFailureCase{
            Op::kLookupPrivilege, "PRIVILEGE_ERROR", "Failed to lookup privilege value",
            Plus(kThroughPipe, {"OpenOwnProcessToken", "DuplicatePrimaryToken", "LookupPrivilege",
                                "Close", "Close", "Close", "Close", "Close"})},
        OsFailureCase{
            Op::kEnablePrivilege, "PRIVILEGE_ERROR", "Failed to adjust token privileges",
            Plus(kThroughPipe, {"OpenOwnProcessToken", "DuplicatePrimaryToken", "LookupPrivilege",
                                "EnablePrivilege", "Close", "Close", "Close", "Close", "Close"})},
        OsFailureCase{Op::kStartProcess, "PROCESS_START_FAILED",
                      "Failed to start process with elevated privileges",
                      Plus(kThroughPipe, {"OpenOwnProcessToken", "DuplicatePrimaryToken",
                                          "LookupPrivilege", "EnablePrivilege", "StartProcess",
                                          "Close", "Close", "Close", "Close", "Close"})}),
    [](const ::testing::TestParamInfo<OsFailureCase>& info) {
      return std::string(info.param.code) + "_" + std::to_string(info.index);
    });

TEST_F(FakeLifecycleTest, FailedProcessCreationShowsTheErrorNumberOnTheConsoleOnly) {
  os_.FailNext(Op::kStartProcess, 1314);
  ExpectError(Start(), "PROCESS_START_FAILED", "Failed to start process with elevated privileges");
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Failed to create process, error: 1314"));
}

// A child that cannot be let run would pass the stability check as healthy.
TEST_F(FakeLifecycleTest, ChildThatCannotBeResumedIsEndedAndReportedAsAFailedStart) {
  os_.FailNext(Op::kResumeProcess, 5);
  Answer reply = Start();
  EXPECT_EQ(reply.kind, Answer::Kind::kError);
  EXPECT_EQ(reply.code, "PROCESS_TERMINATED_IMMEDIATELY");
  EXPECT_THAT(recorder_.ConsoleLines(), Contains("VpnManager: Failed to resume process, error: 5"));
  EXPECT_FALSE(os_.ProcessRuns(4000));  // the fake's first process id
  ExpectIdleWithNothingOpen();
}

// Suspended, it reads as still active: it must not pass as healthy, nor be
// left behind.
TEST_F(FakeLifecycleTest, ChildThatCanNeitherBeResumedNorTerminatedIsAFailedStart) {
  os_.FailNext(Op::kResumeProcess, 5);
  os_.FailNext(Op::kTerminate, 5);
  ExpectError(Start(), "PROCESS_START_FAILED", "Failed to start process with elevated privileges");
  EXPECT_FALSE(os_.ProcessRuns(kFirstChild));  // closing its job ended it
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, MonitorThreadThatCannotBeCreatedEndsTheChild) {
  os_.FailNext(Op::kStartThread, 11);
  ExpectError(Start(), "PROCESS_START_FAILED", "Failed to start process with elevated privileges");
  ExpectIdleWithNothingOpen();
  EXPECT_EQ(peer().process_id(), 0u);
  const std::uint32_t child = 4000;  // the fake's first process id
  EXPECT_FALSE(os_.ProcessRuns(child));
  EXPECT_THAT(recorder_.Records(kTag), Not(Contains("Log monitor thread started")));
  EXPECT_THAT(recorder_.Records(kTag),
              Contains("sing-box process ended because its output cannot be monitored"));
}

// --- start_vpn: success and early exit ---

TEST_F(FakeLifecycleTest, SuccessfulStartInOrder) {
  os_.QueueChild({"", std::nullopt});
  Answer reply = Start();
  EXPECT_EQ(reply.kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(reply.value.has_value());
  EXPECT_EQ(reply.count, 1);

  Strings calls = Calls(os_);
  // Created suspended, put into the job, only then let run.
  ASSERT_GE(calls.size(), 13u);
  EXPECT_EQ(
      Strings(calls.begin(), calls.begin() + 13),
      (Strings{"ExecutablePath", "CreateJob", "ConfigureKillOnClose", "CreateOutputPipe",
               "OpenOwnProcessToken", "DuplicatePrimaryToken", "LookupPrivilege", "EnablePrivilege",
               "StartProcess", "Close", "Close", "AssignProcessToJob", "ResumeProcess"}));
  EXPECT_THAT(calls, Contains("StartThread"));
  // The stability check waits on the child itself, for at most one second.
  EXPECT_THAT(os_.Journal(), Contains("WaitForExit process#1 1000"));
  EXPECT_THAT(os_.Sleeps(), IsEmpty());

  std::optional<vpn_os::ProcessLaunch> launch = os_.LastLaunch();
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->command_line, "\"" + kFoundExe + "\" run -c \"" + kConfig + "\"");
  EXPECT_EQ(launch->argv, (Strings{kFoundExe, "run", "-c", kConfig}));
  EXPECT_EQ(launch->executable, std::filesystem::path(kExe));
  EXPECT_TRUE(launch->no_console_window);
  EXPECT_TRUE(launch->high_priority);
  EXPECT_TRUE(launch->start_suspended);
  EXPECT_NE(launch->token, 0u);

  // Running: job, read end, process and thread open; the monitor closes the
  // write end as it starts.
  EXPECT_TRUE(WaitForRunningChildHandles());
  EXPECT_TRUE(peer().is_running());
  EXPECT_TRUE(peer().has_monitor());

  Strings records = recorder_.Records(kTag);
  records.erase(std::remove(records.begin(), records.end(), "Log monitor thread started"),
                records.end());
  EXPECT_EQ(records, (Strings{"HandleStartVpnMethod called", "Found sing-box executable",
                              "Executable file verified", "Job Object created successfully",
                              "Job Object configured successfully", "Stopping log monitor...",
                              "Log monitor stopped", "Output capture pipe created successfully",
                              "Process assigned to Job Object successfully",
                              "Waiting 1 second to verify process stability..."}));
  EXPECT_EQ(recorder_.CountRecords("Log monitor thread started", kTag), 2);
  Strings console = recorder_.ConsoleLines();
  EXPECT_THAT(console, Contains(std::string("VpnManager: Starting VPN with config: ") + kConfig));
  EXPECT_THAT(console, Contains(std::string("VpnManager: Config file exists: ") + kConfig));
  EXPECT_THAT(console, Contains("VpnManager: Using executable: " + kFoundExe));
  EXPECT_THAT(console, Contains("VpnManager: Process created successfully, PID: 4000"));
  EXPECT_THAT(console, Contains("VpnManager: Process exit code check - Success: 1, Exit code: "
                                "259 (STILL_ACTIVE = 259)"));
}

TEST_F(FakeLifecycleTest, StabilityCheckPausesTheSecondWhenTheChildCannotBeWaitedFor) {
  os_.FailNext(Op::kWaitForExit, vpn_test::kErrorAccessDenied);
  StartRunning();
  ASSERT_EQ(os_.Sleeps().size(), 1u);
  EXPECT_GT(os_.Sleeps()[0], std::chrono::milliseconds(900));
  EXPECT_LE(os_.Sleeps()[0], std::chrono::milliseconds(1000));
}

TEST_F(FakeLifecycleTest, FailedJobAssignmentIsOnlyAWarning) {
  os_.FailNext(Op::kAssignProcessToJob, vpn_test::kErrorAccessDenied);
  StartRunning();
  EXPECT_THAT(recorder_.Records(kTag), Contains("Warning: Failed to assign process to Job Object"));
  EXPECT_TRUE(peer().is_running());
}

TEST_F(FakeLifecycleTest, EarlyExitReadsEverythingAndClosesEverything) {
  std::string output(5000, 'e');
  output += "\nlast";
  os_.QueueChild({output, 1u});
  Answer reply = Start();
  ExpectError(reply, "PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: " + output);
  ExpectIdleWithNothingOpen();
  EXPECT_EQ(peer().process_id(), 4000u);  // closed, values kept
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Process exit code check - Success: 1, Exit code: 1 "
                       "(STILL_ACTIVE = 259)"));
}

// A failing start that a Dart side retries, or a descendant that keeps
// writing, must not flood the log: the answer has everything, the log the
// monitor's budget, shared by the starts in a row.
TEST_F(FakeLifecycleTest, EarlyExitOutputIsLoggedWithinTheLineBudget) {
  std::string flood;
  for (int i = 0; i < 1500; ++i) flood += "FATAL line " + std::to_string(i) + "\n";
  const auto before = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 2; ++attempt) {
    os_.QueueChild({flood, 1u});
    ExpectError(Start(), "PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: " + flood);
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;
  // The burst and what accrued meanwhile.
  EXPECT_LE(recorder_.Records("sing-box").size(),
            2000 + static_cast<std::size_t>(200 * took.count()) + 1);
  EXPECT_THAT(recorder_.Records(kTag),
              Contains(::testing::EndsWith(" lines of sing-box output not logged (output too fast)")));
}

TEST_F(FakeLifecycleTest, UnreadableExitCodeCountsAsEarlyExitAndLeavesNoChild) {
  // The child still runs and holds its end of the pipe; it must neither be
  // left running unseen nor keep the read of its output from ending.
  os_.QueueChild({"partial", std::nullopt});
  os_.FailNext(Op::kGetExitCode, vpn_test::kErrorAccessDenied);
  Answer reply = Start();
  ExpectError(reply, "PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: partial");
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Process exit code check - Success: 0, Exit code: 0 "
                       "(STILL_ACTIVE = 259)"));
  EXPECT_FALSE(os_.ProcessRuns(4000));
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, EarlyExitClosesTheJobBeforeReading) {
  // A process the child started could still hold the pipe's write end; it
  // ends with the job, so the job goes before the read or the read could
  // wait forever.
  os_.QueueChild({"bye", 2u});
  ExpectError(Start(), "PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: bye");
  Strings journal = os_.Journal();
  auto job_closed = std::find(journal.begin(), journal.end(), "Close job#1");
  auto read_closed = std::find(journal.begin(), journal.end(), "Close pipe-read#1");
  EXPECT_LT(job_closed, read_closed);
}

}  // namespace
}  // namespace vpn_test
