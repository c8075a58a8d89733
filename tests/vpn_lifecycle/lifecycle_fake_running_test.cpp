// A running child against the scripted fake OS: a second start, the
// monitor when the child ends, writes or goes silent, stop_vpn and
// get_vpn_status.
#include "tests/vpn_lifecycle/fake_lifecycle_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace vpn_test {
namespace {

using flutter::EncodableValue;
using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using Strings = std::vector<std::string>;

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

// One outside its job (a failed assignment) that cannot be terminated is not
// orphaned: it stays the manager's, and no second one starts beside it.
TEST_F(FakeLifecycleTest, SecondStartFailsAndKeepsAFirstChildThatCannotBeEnded) {
  os_.FailNext(Op::kAssignProcessToJob, kErrorAccessDenied);
  const std::uint32_t first = StartRunning();
  os_.FailNext(Op::kTerminate, kErrorAccessDenied);
  ExpectError(Start(), "PROCESS_START_FAILED", "Failed to start process with elevated privileges");
  EXPECT_TRUE(os_.ProcessRuns(first));
  EXPECT_TRUE(peer().is_running());
  EXPECT_EQ(peer().process_id(), first);
  EXPECT_TRUE(WaitForRunningChildHandles());
  // A later stop can still end it.
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(os_.ProcessRuns(first));
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
                      RestartCase{"CannotBeTerminatedButEndsWithItsJob", Op::kTerminate,
                                  "VpnManager: Failed to terminate managed process, error: 5", true,
                                  ""},
                      RestartCase{"SlowToEnd", Op::kWaitForExit,
                                  "Previous sing-box process termination timeout", false, ""}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

// --- The monitor ---

// The console lines of a stray scan that finds nothing.
Strings StrayScanLines(const std::string& name) {
  return {"VpnManager: Attempting to terminate processes: " + name,
          "VpnManager: No " + name + " processes found"};
}

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
