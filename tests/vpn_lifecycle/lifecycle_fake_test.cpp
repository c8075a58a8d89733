// Every reply of start_vpn, stop_vpn and get_vpn_status against the scripted
// fake OS: exact codes and messages, the handles each outcome leaves open,
// the order of the OS calls, records and console lines, and the monitor's
// behaviour when the child ends, writes or goes silent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "base/utf8_path.h"
#include "logging/native_logger.h"
#include "tests/support/fake_vpn_os.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn_lifecycle/output_recorder.h"

namespace vpn_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using Strings = std::vector<std::string>;

constexpr char kTag[] = "VpnManager";
constexpr char kExe[] = "/velqa/data/sing-box-amd64.exe";
// The executable as discovery composes it (with the platform's separator).
const std::string kFoundExe =
    velqa::base::Utf8FromPath(std::filesystem::path("/velqa") / "data" / "sing-box-amd64.exe");
constexpr char kConfig[] = "/cfg/config.json";

// Names of the calls in the journal, without Close and PathExists noise.
Strings Calls(const FakeVpnOs& os) {
  Strings out;
  for (const auto& name : os.CallNames()) {
    if (name != "PathExists") out.push_back(name);
  }
  return out;
}

class FakeLifecycleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { NativeLogger::GetInstance().Initialize(); }

  void SetUp() override {
    os_.SetExecutablePath("/velqa/velqa_assistant.exe");
    os_.AddPath(kExe);
    os_.AddPath(kConfig);
    manager_ = std::make_unique<VpnManager>(os_);
  }
  void TearDown() override {
    manager_.reset();
    recorder_.Stop();
  }

  Answer Start(const std::string& config = kConfig) { return StartVpn(*manager_, config); }
  Answer StartWith(std::unique_ptr<EncodableValue> arguments) {
    return Call(*manager_, "start_vpn", std::move(arguments));
  }
  VpnManagerTestPeer peer() { return VpnManagerTestPeer(*manager_); }

  // A started child that runs; its process id.
  std::uint32_t StartRunning(vpn_test::ChildScript script = {}) {
    os_.QueueChild(std::move(script));
    Answer reply = Start();
    EXPECT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
    // The thread's own "started" record comes when it runs.
    EXPECT_TRUE(recorder_.WaitUntil(
        [&] { return recorder_.CountRecords("Log monitor thread started", kTag) % 2 == 0; },
        milliseconds(2000)));
    return peer().process_id();
  }

  // Waits until exactly what a running child holds is open: job, read end,
  // process and thread (the monitor closes the write end as it starts).
  bool WaitForRunningChildHandles() {
    return recorder_.WaitUntil(
        [&] {
          return os_.OpenHandles() ==
                 std::multiset<HandleKind>{HandleKind::kJob, HandleKind::kPipeRead,
                                           HandleKind::kProcess, HandleKind::kThread};
        },
        milliseconds(2000));
  }

  void ExpectError(const Answer& reply, const std::string& code, const std::string& message) {
    EXPECT_EQ(reply.count, 1);
    EXPECT_EQ(reply.kind, Answer::Kind::kError);
    EXPECT_EQ(reply.code, code);
    EXPECT_EQ(reply.message, message);
    EXPECT_FALSE(reply.has_details);
  }

  // Idle, with nothing open: what every failure of start_vpn leaves.
  void ExpectIdleWithNothingOpen() {
    EXPECT_THAT(os_.OpenHandles(), IsEmpty());
    EXPECT_FALSE(peer().is_running());
    EXPECT_FALSE(peer().has_job());
    EXPECT_FALSE(peer().has_read_pipe());
    EXPECT_FALSE(peer().has_write_pipe());
    EXPECT_FALSE(peer().has_monitor());
  }

  FakeVpnOs os_;
  OutputRecorder recorder_;
  std::unique_ptr<VpnManager> manager_;
};

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
  EXPECT_GT(os_.Sleeps()[0], milliseconds(900));
  EXPECT_LE(os_.Sleeps()[0], milliseconds(1000));
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

TEST_F(FakeLifecycleTest, SecondStartEndsTheRunningChildFirst) {
  const std::uint32_t first = StartRunning();
  os_.ClearJournal();
  const std::uint32_t second = StartRunning();
  EXPECT_FALSE(os_.ProcessRuns(first));
  EXPECT_TRUE(os_.ProcessRuns(second));
  Strings journal = os_.Journal();
  // Terminate, wait, close the handles and the job, before the new job.
  auto at = [&](const std::string& line) {
    return std::find(journal.begin(), journal.end(), line) - journal.begin();
  };
  EXPECT_LT(at("Terminate process#1 0"), at("WaitForExit process#1 3000"));
  EXPECT_LT(at("WaitForExit process#1 3000"), at("Close process#1"));
  EXPECT_LT(at("Close process#1"), at("Close job#1"));
  EXPECT_LT(at("Close job#1"), at("CreateJob -> job#2"));
  EXPECT_LT(at("CreateJob -> job#2"), static_cast<long>(journal.size()));
  EXPECT_TRUE(WaitForRunningChildHandles());
  EXPECT_THAT(recorder_.Records(kTag),
              Contains("Ending the running sing-box process (PID: 4000) before the new start"));
}

TEST_F(FakeLifecycleTest, InvalidSecondStartLeavesTheRunningChildAlone) {
  const std::uint32_t child = StartRunning();
  ExpectError(Start("/cfg/absent.json"), "CONFIG_NOT_FOUND", "Configuration file not found");
  EXPECT_TRUE(os_.ProcessRuns(child));
  EXPECT_TRUE(peer().is_running());
}

// How the first child ends when a second start comes, and what the start
// says about it.
struct RestartCase {
  const char* name;
  std::optional<Op> failing;  // made to fail once; none: the child has ended
  const char* said;           // the record, or the console line, it writes
  bool on_console;
  const char* never_called;  // journal line of a call it must not make
};

void PrintTo(const RestartCase& c, std::ostream* out) { *out << c.name; }

class RestartTest : public FakeLifecycleTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(RestartTest, EndsOrReleasesTheFirstChildAndSaysHow) {
  const RestartCase& c = GetParam();
  const std::uint32_t first = StartRunning();
  if (c.failing) {
    os_.FailNext(*c.failing, *c.failing == Op::kWaitForExit ? 258 : vpn_test::kErrorAccessDenied);
  } else {
    os_.EndChild(first, 1);
  }
  os_.ClearJournal();
  const std::uint32_t second = StartRunning();
  EXPECT_FALSE(os_.ProcessRuns(first));
  EXPECT_TRUE(os_.ProcessRuns(second));
  EXPECT_THAT(c.on_console ? recorder_.ConsoleLines() : recorder_.Records(kTag), Contains(c.said));
  EXPECT_THAT(recorder_.Records(kTag),
              Contains("Previous sing-box process handles and Job Object closed"));
  EXPECT_THAT(os_.Journal(), Contains("Close job#1"));
  if (*c.never_called) {
    EXPECT_THAT(os_.Journal(), Not(Contains(c.never_called)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    FirstChild, RestartTest,
    ::testing::Values(RestartCase{"AlreadyEnded", std::nullopt,
                                  "Previous sing-box process (PID: 4000) has already ended", false,
                                  "Terminate process#1 0"},
                      RestartCase{"CannotBeEnded", Op::kTerminate,
                                  "VpnManager: Failed to terminate managed process, error: 5", true,
                                  "WaitForExit process#1 3000"},
                      RestartCase{"SlowToEnd", Op::kWaitForExit,
                                  "Previous sing-box process termination timeout", false, ""}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

// --- The monitor ---

TEST_F(FakeLifecycleTest, MonitorLogsCleanLinesAndNoticesTheEnd) {
  const std::uint32_t child = StartRunning({"\x1b[32mINFO\x1b[0m first\r\nsecond", std::nullopt});
  os_.WriteChildOutput(child, " half\n");
  ASSERT_TRUE(recorder_.WaitForRecord("second half", "sing-box", milliseconds(2000)));
  EXPECT_THAT(recorder_.Records("sing-box"), ElementsAre("INFO first", "second half"));

  os_.WriteChildOutput(child, "no line feed");
  auto ended_at = std::chrono::steady_clock::now();
  os_.EndChild(child, 7);
  auto noticed = recorder_.WaitForRecord("sing-box process terminated, stopping log monitor", kTag,
                                         milliseconds(2000));
  ASSERT_TRUE(noticed);
  EXPECT_LT(*noticed - ended_at, milliseconds(300));
  ASSERT_TRUE(recorder_.WaitForRecord("Log monitor thread stopped", kTag, milliseconds(1000)));
  Strings records = recorder_.Records(kTag);
  EXPECT_EQ(records.back(), "Log monitor thread stopped");
  EXPECT_EQ(records[records.size() - 2], "sing-box process terminated, stopping log monitor");
  // The unfinished last line is not lost.
  EXPECT_THAT(recorder_.Records("sing-box"), Contains("no line feed"));
  // Still Running for the manager until status or stop looks.
  EXPECT_TRUE(peer().is_running());
  EXPECT_TRUE(peer().has_process_handle());
}

TEST_F(FakeLifecycleTest, FailedReadIsRetriedAfterAPause) {
  os_.FailNext(Op::kRead, vpn_test::kErrorBrokenPipe);
  const std::uint32_t child = StartRunning();
  os_.WriteChildOutput(child, "after the pause\n");
  EXPECT_TRUE(recorder_.WaitForRecord("after the pause", "sing-box", milliseconds(2000)));
  EXPECT_THAT(recorder_.Records(kTag),
              Not(Contains("sing-box process terminated, stopping log monitor")));
}

TEST_F(FakeLifecycleTest, StopLogMonitorWithoutThreadTwice) {
  manager_->StopLogMonitor();
  manager_->StopLogMonitor();
  EXPECT_EQ(recorder_.Records(kTag), (Strings{"Stopping log monitor...", "Log monitor stopped",
                                              "Stopping log monitor...", "Log monitor stopped"}));
  EXPECT_THAT(os_.CallNames(), IsEmpty());
}

// --- stop_vpn ---

Strings StrayScanLines(const std::string& name) {
  return {"VpnManager: Attempting to terminate processes: " + name,
          "VpnManager: No " + name + " processes found"};
}

TEST_F(FakeLifecycleTest, StopWhenIdle) {
  Answer reply = Call(*manager_, "stop_vpn");
  EXPECT_EQ(reply.kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(reply.value.has_value());
  EXPECT_EQ(recorder_.Records(kTag),
            (Strings{"HandleStopVpnMethod called", "Stopping VPN...", "Stopping log monitor...",
                     "Log monitor stopped", "VPN stop operation completed"}));
  Strings expected_console;
  for (const char* name : {"sing-box.exe", "sing-box-amd64.exe", "sing-box-arm64.exe"}) {
    for (const auto& line : StrayScanLines(name)) expected_console.push_back(line);
  }
  EXPECT_EQ(recorder_.ConsoleLines(), expected_console);
  // And a second time, the same.
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
}

TEST_F(FakeLifecycleTest, StopEndsOwnChildThenExactlyNamedStrays) {
  const std::uint32_t child = StartRunning();
  os_.AddForeignProcess(100, "sing-box.exe");
  os_.AddForeignProcess(101, "Sing-Box.exe");
  os_.AddForeignProcess(102, "sing-box.exe");
  os_.AddForeignProcess(103, "sing-box-amd64.exe");
  os_.AddForeignProcess(104, "sing-box.exe");
  os_.DenyOpen(104);  // skipped without a word
  auto before = std::chrono::steady_clock::now();
  Answer reply = Call(*manager_, "stop_vpn");
  // The child writes nothing; the monitor's pending read is ended.
  EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
  EXPECT_EQ(reply.kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(os_.ProcessRuns(child));
  EXPECT_FALSE(os_.ProcessRuns(100));
  EXPECT_FALSE(os_.ProcessRuns(102));
  EXPECT_TRUE(os_.ProcessRuns(101));
  EXPECT_TRUE(os_.ProcessRuns(103));  // the later names are not tried
  EXPECT_TRUE(os_.ProcessRuns(104));
  ExpectIdleWithNothingOpen();
  EXPECT_EQ(peer().process_id(), 0u);

  Strings records = recorder_.Records(kTag);
  auto from = std::find(records.begin(), records.end(), "HandleStopVpnMethod called");
  EXPECT_EQ(Strings(from, records.end()),
            (Strings{"HandleStopVpnMethod called", "Stopping VPN...", "Stopping log monitor...",
                     "Waiting for log monitor thread to finish...", "Log monitor thread stopped",
                     "Log monitor thread finished", "Log monitor stopped",
                     "Terminating managed process...", "Managed process terminated successfully",
                     "Additional sing-box processes terminated", "VPN stop operation completed"}));
  Strings console = recorder_.ConsoleLines();
  auto scan = std::find(console.begin(), console.end(),
                        "VpnManager: Attempting to terminate processes: sing-box.exe");
  EXPECT_EQ(Strings(scan, console.end()),
            (Strings{"VpnManager: Attempting to terminate processes: sing-box.exe",
                     "VpnManager: Found process: sing-box.exe (PID: 100)",
                     "VpnManager: Successfully terminated process PID: 100",
                     "VpnManager: Found process: sing-box.exe (PID: 102)",
                     "VpnManager: Successfully terminated process PID: 102",
                     "VpnManager: Found process: sing-box.exe (PID: 104)",
                     "VpnManager: All sing-box.exe processes terminated"}));
}

TEST_F(FakeLifecycleTest, StopGoesOnWhenTheChildCannotBeEnded) {
  StartRunning();
  os_.FailNext(Op::kTerminate, vpn_test::kErrorAccessDenied);
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Failed to terminate managed process, error: 5"));
  // Handles closed and Idle all the same; closing the job ended the child.
  ExpectIdleWithNothingOpen();
  EXPECT_FALSE(os_.ProcessRuns(4000));
  EXPECT_THAT(recorder_.Records(kTag), Contains("VPN stop operation completed"));
}

TEST_F(FakeLifecycleTest, StopEndsTheChildWhenTheMonitorsReadCannotBeCancelled) {
  os_.SetCancelUnreachable(true);
  const std::uint32_t child = StartRunning();
  auto stop = std::async(std::launch::async, [&] { return Call(*manager_, "stop_vpn"); });
  const bool finished = stop.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!finished) os_.EndChild(child, 1);  // lets the stuck stop return
  ASSERT_TRUE(finished);
  EXPECT_EQ(stop.get().kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(os_.ProcessRuns(child));
  EXPECT_THAT(recorder_.Records(kTag),
              Contains("Log monitor read could not be cancelled, ending sing-box process"));
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, StopReportsATimedOutWait) {
  StartRunning();
  os_.FailNext(Op::kWaitForExit, 258);
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
  EXPECT_THAT(recorder_.Records(kTag), Contains("Managed process termination timeout"));
  ExpectIdleWithNothingOpen();
}

TEST_F(FakeLifecycleTest, StrayThatCannotBeEndedIsReportedAndTheNextNameTried) {
  os_.AddForeignProcess(200, "sing-box.exe");
  os_.DenyTerminate(200);
  os_.AddForeignProcess(201, "sing-box-amd64.exe");
  EXPECT_TRUE(manager_->TerminateProcessesByName("sing-box-amd64.exe"));
  EXPECT_FALSE(manager_->TerminateProcessesByName("sing-box.exe"));
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Failed to terminate process PID: 200"));
  EXPECT_THAT(recorder_.ConsoleLines(), Contains("VpnManager: No sing-box.exe processes found"));
  EXPECT_THAT(os_.OpenHandles(), IsEmpty());
  // Without a process list nothing is found and nothing more is said.
  os_.FailNext(Op::kSnapshotProcesses, vpn_test::kErrorAccessDenied);
  EXPECT_FALSE(manager_->TerminateProcessesByName("sing-box.exe"));
  EXPECT_EQ(recorder_.ConsoleLines().back(),
            "VpnManager: Attempting to terminate processes: sing-box.exe");
}

// --- get_vpn_status ---

TEST_F(FakeLifecycleTest, StatusWithOwnChildAliveNeedsNoScan) {
  StartRunning();
  os_.ClearJournal();
  Answer status = Call(*manager_, "get_vpn_status");
  EXPECT_EQ(status.value, EncodableValue(true));
  EXPECT_THAT(os_.CallNames(), Not(Contains("SnapshotProcesses")));
  EXPECT_THAT(recorder_.ConsoleLines(), Contains("VpnManager: VPN状态检查 - 进程运行状态: true"));
}

TEST_F(FakeLifecycleTest, StatusAfterTheChildEndedClosesItsHandlesAndScansExactNames) {
  const std::uint32_t child = StartRunning();
  os_.AddForeignProcess(300, "sing-box-amd64.exe");
  os_.AddForeignProcess(301, "SING-BOX.EXE");
  os_.EndChild(child, 1);
  ASSERT_TRUE(recorder_.WaitForRecord("Log monitor thread stopped", kTag, milliseconds(2000)));
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, EncodableValue(false));
  EXPECT_FALSE(peer().is_running());
  EXPECT_EQ(peer().process_id(), 0u);
  // Only the process handles went; job, read end and monitor stay until a stop.
  EXPECT_EQ(os_.OpenHandles(),
            (std::multiset<HandleKind>{HandleKind::kJob, HandleKind::kPipeRead}));
  EXPECT_TRUE(peer().has_monitor());
  os_.AddForeignProcess(302, "sing-box.exe");
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, EncodableValue(true));
  EXPECT_TRUE(os_.ProcessRuns(302));  // the scan ends nothing
}

TEST_F(FakeLifecycleTest, StatusWhenTheExitCodeCannotBeReadOrNoListCanBeTaken) {
  StartRunning();
  os_.FailNext(Op::kGetExitCode, vpn_test::kErrorAccessDenied);
  os_.FailNext(Op::kSnapshotProcesses, vpn_test::kErrorAccessDenied);
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, EncodableValue(false));
  // Nothing was closed: the child is still the manager's.
  EXPECT_TRUE(peer().is_running());
  EXPECT_TRUE(peer().has_process_handle());
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, EncodableValue(true));
}

}  // namespace
}  // namespace vpn_test
