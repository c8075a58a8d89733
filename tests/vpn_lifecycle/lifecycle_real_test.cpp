// The sing-box lifecycle with real processes: the stand-in sing-box from the
// bundle layout beside this executable, started, watched and ended through
// the platform's own OS interface (POSIX natively, Win32 under Wine).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "base/utf8_path.h"
#include "logging/native_logger.h"
#include "tests/support/build_layout.h"
#include "tests/support/process_probe.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/standin_config.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn_lifecycle/output_recorder.h"

namespace vpn_test {
namespace {

using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using Clock = std::chrono::steady_clock;
using velqa::testing::DescendantCanLeaveTheJob;
using velqa::testing::IsProcessAlive;
using velqa::testing::WaitUntilGone;

constexpr char kTag[] = "VpnManager";
constexpr char kOutputTag[] = "sing-box";
constexpr char kEarlyExitPrefix[] = "sing-box启动失败。错误信息: ";

// The part of `records` from the last `first` on.
std::vector<std::string> From(const std::vector<std::string>& records, const std::string& first) {
  auto at = std::find(records.rbegin(), records.rend(), first);
  if (at == records.rend()) return {};
  return std::vector<std::string>(std::prev(at.base()), records.end());
}

// `records` restricted to `wanted`.
std::vector<std::string> Only(const std::vector<std::string>& records,
                              const std::vector<std::string>& wanted) {
  std::vector<std::string> out;
  for (const auto& r : records) {
    if (std::find(wanted.begin(), wanted.end(), r) != wanted.end()) out.push_back(r);
  }
  return out;
}

// The id of the process the stand-in says it started ("spawn_child"), or 0
// when it does not say so within 3 s.
std::uint32_t SpawnedChild(OutputRecorder& recorder) {
  std::string spawned;
  const bool said = recorder.WaitFor(
      [&](const std::string& line) {
        auto message = RecordMessage(line, kOutputTag);
        const std::string prefix = "INFO[0000] standin: started child process ";
        if (!message || message->rfind(prefix, 0) != 0) return false;
        spawned = message->substr(prefix.size());
        return true;
      },
      milliseconds(3000)).has_value();
  return said ? static_cast<std::uint32_t>(std::stoul(spawned)) : 0;
}

class RealLifecycleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Records then carry their tags on standard output.
    NativeLogger::GetInstance().Initialize();
  }

  void SetUp() override { manager_ = std::make_unique<VpnManager>(os_); }
  void TearDown() override {
    manager_.reset();  // ends a child a failed test left running
    recorder_.Stop();
  }

  std::string Config(const std::string& standin_json, const std::string& name = "config.json") {
    return scratch_.Write(name, StandinConfig(standin_json));
  }

  // Starts a child that must come up healthy.
  void StartHealthy(const std::string& standin_json) {
    Answer reply = StartVpn(*manager_, Config(standin_json));
    ASSERT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
  }

  VpnManagerTestPeer peer() { return VpnManagerTestPeer(*manager_); }

  ScopedProcessOs os_;
  ScratchDir scratch_;
  OutputRecorder recorder_;
  std::unique_ptr<VpnManager> manager_;
};

TEST_F(RealLifecycleTest, HealthyChildRunsReportsAndStopsPromptly) {
  ASSERT_NO_FATAL_FAILURE(StartHealthy(R"({"silent": true})"));
  const std::uint32_t pid = peer().process_id();
  EXPECT_TRUE(IsProcessAlive(pid));
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: Process exit code check - Success: 1, Exit code: 259 "
                       "(STILL_ACTIVE = 259)"));
  // One from the handler, one from the thread itself.
  ASSERT_TRUE(recorder_.WaitUntil(
      [&] { return recorder_.CountRecords("Log monitor thread started", kTag) == 2; },
      milliseconds(2000)));

  // Status with the own child alive: true, and no process list is taken.
  Answer status = Call(*manager_, "get_vpn_status");
  ASSERT_EQ(status.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(status.value, flutter::EncodableValue(true));
  EXPECT_EQ(os_.snapshots(), 0);

  // The child writes nothing, so the monitor sits in a read: the stop must
  // still not hang on it.
  auto before = Clock::now();
  Answer stop = Call(*manager_, "stop_vpn");
  auto took = Clock::now() - before;
  EXPECT_EQ(stop.kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(stop.value.has_value());
  EXPECT_LT(took, milliseconds(1500));
  EXPECT_TRUE(WaitUntilGone(pid, milliseconds(3000)));
  EXPECT_FALSE(peer().is_running());
  EXPECT_FALSE(peer().has_job());
  EXPECT_FALSE(peer().has_monitor());

  const std::vector<std::string> stop_records = {"HandleStopVpnMethod called",
                                                 "Stopping VPN...",
                                                 "Stopping log monitor...",
                                                 "Waiting for log monitor thread to finish...",
                                                 "Log monitor thread stopped",
                                                 "Log monitor thread finished",
                                                 "Log monitor stopped",
                                                 "Terminating managed process...",
                                                 "Managed process terminated successfully",
                                                 "VPN stop operation completed"};
  EXPECT_EQ(Only(From(recorder_.Records(kTag), "HandleStopVpnMethod called"), stop_records),
            stop_records);
  // No stray was running: the cleanup went through all three names.
  EXPECT_THAT(recorder_.ConsoleLines(),
              Contains("VpnManager: No sing-box-arm64.exe processes found"));
}

TEST_F(RealLifecycleTest, ChildOutputLinesAreLoggedClean) {
  ASSERT_NO_FATAL_FAILURE(StartHealthy(
      R"({"stdout": "\u001b[36mINFO\u001b[0m[0000] inbound/tun started\r\nplain line\n",)"
      R"( "stderr": "\u001b[31mERROR\u001b[0m dns: timeout\r\n", "last_words": "unterminated tail"})"));
  ASSERT_TRUE(recorder_.WaitForRecord("plain line", kOutputTag, milliseconds(3000)));
  ASSERT_TRUE(recorder_.WaitForRecord("ERROR dns: timeout", kOutputTag, milliseconds(3000)));
  EXPECT_THAT(recorder_.Records(kOutputTag), Contains("INFO[0000] inbound/tun started"));
  Call(*manager_, "stop_vpn");
  for (const auto& line : recorder_.Records(kOutputTag)) {
    EXPECT_THAT(line, Not(HasSubstr("\x1b")));
    EXPECT_THAT(line, Not(HasSubstr("\r")));
  }
}

TEST_F(RealLifecycleTest, EarlyExitCarriesTheWholeOutput) {
  // More than one 1023-byte chunk, from both streams.
  std::string text;
  for (int i = 0; text.size() < 3000; ++i) text += "FATAL line " + std::to_string(i) + "\n";
  text = text.substr(0, 2000);
  std::string escaped;
  for (char c : text) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  Answer reply = StartVpn(*manager_, Config(R"({"stdout": ")" + escaped + R"(", "exit_code": 1})"));
  ASSERT_EQ(reply.kind, Answer::Kind::kError);
  EXPECT_EQ(reply.code, "PROCESS_TERMINATED_IMMEDIATELY");
  EXPECT_EQ(reply.message, kEarlyExitPrefix + text);
  EXPECT_FALSE(reply.has_details);
  // The table: job and pipe closed, handles closed, not running, no monitor.
  EXPECT_FALSE(peer().is_running());
  EXPECT_FALSE(peer().has_job());
  EXPECT_FALSE(peer().has_read_pipe());
  EXPECT_FALSE(peer().has_write_pipe());
  EXPECT_FALSE(peer().has_process_handle());
  EXPECT_FALSE(peer().has_thread_handle());
  EXPECT_FALSE(peer().has_monitor());
  EXPECT_NE(peer().process_id(), 0u);  // the values stay
  EXPECT_THAT(Only(recorder_.Records(kTag),
                   {"Process started but terminated immediately, capturing output...",
                    "Reading process output...", "Log monitor thread started"}),
              ElementsAre("Process started but terminated immediately, capturing output...",
                          "Reading process output..."));
  EXPECT_THAT(recorder_.Records(kOutputTag), Contains("FATAL line 0"));
}

TEST_F(RealLifecycleTest, EarlyExitOutputIsCutAtAZeroByteWithinItsChunk) {
  // The child has ended before the first read, so the reads see 1023-byte
  // chunks: "head" + zero + the rest of chunk one is cut, chunk two is kept.
  std::string tail(1500, 'x');
  Answer reply =
      StartVpn(*manager_, Config(R"({"stdout": "head\u0000)" + tail + R"(", "exit_code": 3})"));
  ASSERT_EQ(reply.kind, Answer::Kind::kError);
  EXPECT_EQ(reply.code, "PROCESS_TERMINATED_IMMEDIATELY");
  EXPECT_EQ(reply.message, kEarlyExitPrefix + std::string("head") + std::string(1505 - 1023, 'x'));
}

TEST_F(RealLifecycleTest, EarlyExitWithoutOutputAndAnUnreadableConfig) {
  Answer silent = StartVpn(*manager_, Config(R"({"exit_code": 0})"));
  EXPECT_EQ(silent.code, "PROCESS_TERMINATED_IMMEDIATELY");
  EXPECT_EQ(silent.message, kEarlyExitPrefix);

  // The stand-in refuses a configuration that is not JSON, as sing-box does.
  Answer broken = StartVpn(*manager_, scratch_.Write("broken.json", "{not json"));
  EXPECT_EQ(broken.code, "PROCESS_TERMINATED_IMMEDIATELY");
  EXPECT_THAT(broken.message, HasSubstr("FATAL[0000] decode config"));
  EXPECT_EQ(broken.message.rfind(kEarlyExitPrefix, 0), 0u);
}

// A process the child left outside its job keeps the pipe open after the
// child has ended, silent or writing without end: the answer still comes at
// once, with the child's output and bounded in size.
class EscapedDescendantTest : public RealLifecycleTest,
                              public ::testing::WithParamInterface<bool> {};

TEST_P(EscapedDescendantTest, EarlyExitIsAnsweredAtOnce) {
  if (!DescendantCanLeaveTheJob()) os_.RefuseJobAssignment();
  const bool writes = GetParam();
  // The descendant holds the pipe's write end for 20 s; the child ends
  // after 50 ms.
  auto before = Clock::now();
  Answer reply =
      StartVpn(*manager_, Config(R"({"stdout": "FATAL[0000] start inbound\n",)"
                                 R"( "escape_child_ms": 20000, "exit_after_ms": 50,)"
                                 R"( "escape_child_writes": )" +
                                 std::string(writes ? "true" : "false") + R"(, "exit_code": 1})"));
  auto took = Clock::now() - before;
  ASSERT_EQ(reply.code, "PROCESS_TERMINATED_IMMEDIATELY") << reply.message.substr(0, 200);
  const std::string prefix = "INFO[0000] standin: started child process ";
  const size_t at = reply.message.find(prefix);
  ASSERT_NE(at, std::string::npos) << reply.message.substr(0, 200);
  const auto descendant =
      static_cast<std::uint32_t>(std::stoul(reply.message.substr(at + prefix.size())));
  EXPECT_TRUE(IsProcessAlive(descendant));
  // About two seconds of waiting for the end of the output, not twenty.
  EXPECT_LT(took, milliseconds(5000));
  EXPECT_EQ(reply.message.rfind(kEarlyExitPrefix + std::string("FATAL[0000] start inbound\n"), 0),
            0u);
  EXPECT_LT(reply.message.size(), 5u << 20);
  EXPECT_FALSE(peer().has_read_pipe());
  EXPECT_FALSE(peer().is_running());
  if (!writes) {
    EXPECT_THAT(recorder_.Records(kTag),
                Contains("sing-box output still held open by another process; answering with "
                         "what was read"));
  }

  vpn_os::HandleResult escaped = os_.OpenProcessForTermination(descendant);
  ASSERT_TRUE(escaped.ok());
  os_.Terminate(escaped.handle.get(), 0);
  EXPECT_TRUE(WaitUntilGone(descendant, milliseconds(3000)));
}

INSTANTIATE_TEST_SUITE_P(HoldingTheOutput, EscapedDescendantTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Writing" : "Silent");
                         });

TEST_F(RealLifecycleTest, BurstFarBeyondThePipeBufferIsDrainedAndTheChildKeepsRunning) {
  const std::string done = velqa::base::Utf8FromPath(scratch_.path()) + "/burst done";
  ASSERT_NO_FATAL_FAILURE(
      StartHealthy(R"({"burst_bytes": 67108864, "done_file": )" + JsonString(done) + "}"));
  // The stand-in creates the file only after its last byte went into the pipe.
  auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(velqa::base::PathFromUtf8(done)) && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  ASSERT_TRUE(std::filesystem::exists(velqa::base::PathFromUtf8(done)));
  EXPECT_TRUE(IsProcessAlive(peer().process_id()));
  Answer status = Call(*manager_, "get_vpn_status");
  EXPECT_EQ(status.value, flutter::EncodableValue(true));
  Call(*manager_, "stop_vpn");
  // The flood was thinned in the log, and the log says by how much.
  EXPECT_LT(recorder_.Records(kOutputTag).size(), 100000u);
  bool summary = false;
  for (const auto& r : recorder_.Records(kTag)) {
    summary |= r.find("lines of sing-box output not logged") != std::string::npos;
  }
  EXPECT_TRUE(summary);
}

TEST_F(RealLifecycleTest, ChildEndingWhileRunningIsNoticedPromptly) {
  ASSERT_NO_FATAL_FAILURE(
      StartHealthy(R"({"exit_after_ms": 1400, "exit_code": 0, "last_words": "going down\n"})"));
  auto last_words = recorder_.WaitForRecord("going down", kOutputTag, milliseconds(5000));
  auto noticed = recorder_.WaitForRecord("sing-box process terminated, stopping log monitor", kTag,
                                         milliseconds(5000));
  ASSERT_TRUE(last_words && noticed);
  // The monitor polls every 100 ms once the pipe is broken.
  EXPECT_LT(*noticed - *last_words, milliseconds(400));
  ASSERT_TRUE(recorder_.WaitForRecord("Log monitor thread stopped", kTag, milliseconds(1000)));
  std::vector<std::string> records = recorder_.Records(kTag);
  auto at = std::find(records.begin(), records.end(),
                      "sing-box process terminated, stopping log monitor");
  ASSERT_NE(at, records.end());
  ASSERT_NE(at + 1, records.end());
  EXPECT_EQ(*(at + 1), "Log monitor thread stopped");
  // The manager still counts itself Running until status or stop looks.
  EXPECT_TRUE(peer().is_running());
  Answer status = Call(*manager_, "get_vpn_status");
  EXPECT_EQ(status.value, flutter::EncodableValue(false));
  EXPECT_FALSE(peer().is_running());
  EXPECT_FALSE(peer().has_process_handle());
  EXPECT_EQ(peer().process_id(), 0u);
  EXPECT_TRUE(peer().has_job());  // until the next stop or start
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(peer().has_job());
}

TEST_F(RealLifecycleTest, SecondStartEndsTheFirstChild) {
  ASSERT_NO_FATAL_FAILURE(StartHealthy(R"({"silent": true})"));
  const std::uint32_t first = peer().process_id();
  ASSERT_NO_FATAL_FAILURE(StartHealthy(R"({"silent": true})"));
  const std::uint32_t second = peer().process_id();
  EXPECT_NE(first, second);
  EXPECT_TRUE(WaitUntilGone(first, milliseconds(3000)));
  EXPECT_TRUE(IsProcessAlive(second));
  const std::string ending = "Ending the running sing-box process (PID: " + std::to_string(first) +
                             ") before the new start";
  const std::vector<std::string> wanted = {
      ending, "Previous sing-box process terminated",
      "Previous sing-box process handles and Job Object closed",
      "Waiting for log monitor thread to finish...", "Job Object created successfully"};
  EXPECT_EQ(Only(From(recorder_.Records(kTag), ending), wanted), wanted);
  EXPECT_EQ(Call(*manager_, "stop_vpn").kind, Answer::Kind::kSuccess);
  EXPECT_TRUE(WaitUntilGone(second, milliseconds(3000)));
}

TEST_F(RealLifecycleTest, StrayCleanupEndsExactNamesOnly) {
  const std::filesystem::path procs = ExecutableDirectory() / "standin_procs";
  const std::string config = Config(R"({"silent": true})", "stray.json");
  ASSERT_NO_FATAL_FAILURE(StartHealthy(R"({"silent": true})"));
  const std::uint32_t own = peer().process_id();
  vpn_os::ProcessInfo stray1 = os_.StartStray(procs / "sing-box.exe", config);
  vpn_os::ProcessInfo stray2 = os_.StartStray(procs / "sing-box.exe", config);
  vpn_os::ProcessInfo other_case = os_.StartStray(procs / "case" / "Sing-Box.exe", config);
  ASSERT_TRUE(stray1.process && stray2.process && other_case.process);

  Answer stop = Call(*manager_, "stop_vpn");
  EXPECT_EQ(stop.kind, Answer::Kind::kSuccess);
  // Reap our own strays so that they leave the process list.
  os_.WaitForExit(stray1.process.get(), milliseconds(3000));
  os_.WaitForExit(stray2.process.get(), milliseconds(3000));
  EXPECT_FALSE(IsProcessAlive(stray1.process_id));
  EXPECT_FALSE(IsProcessAlive(stray2.process_id));
  EXPECT_FALSE(IsProcessAlive(own));
  EXPECT_TRUE(IsProcessAlive(other_case.process_id));

  std::vector<std::string> console = recorder_.ConsoleLines();
  for (auto pid : {stray1.process_id, stray2.process_id}) {
    EXPECT_THAT(
        console,
        Contains("VpnManager: Found process: sing-box.exe (PID: " + std::to_string(pid) + ")"));
    EXPECT_THAT(console, Contains("VpnManager: Successfully terminated process PID: " +
                                  std::to_string(pid)));
  }
  EXPECT_THAT(console, Contains("VpnManager: All sing-box.exe processes terminated"));
  EXPECT_THAT(console,
              Not(Contains("VpnManager: Attempting to terminate processes: sing-box-amd64.exe")));
  EXPECT_THAT(console, Not(Contains(HasSubstr("Sing-Box.exe"))));
  EXPECT_THAT(recorder_.Records(kTag), Contains("Additional sing-box processes terminated"));

  // The status scan ignores the name that differs in case...
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, flutter::EncodableValue(false));
  // ...and finds one with the exact name.
  vpn_os::ProcessInfo stray3 = os_.StartStray(procs / "sing-box.exe", config);
  EXPECT_EQ(Call(*manager_, "get_vpn_status").value, flutter::EncodableValue(true));

  os_.Terminate(stray3.process.get(), 0);
  os_.Terminate(other_case.process.get(), 0);
  os_.WaitForExit(stray3.process.get(), milliseconds(3000));
  os_.WaitForExit(other_case.process.get(), milliseconds(3000));
}

TEST_F(RealLifecycleTest, GrandchildEndsWithTheJob) {
  ASSERT_NO_FATAL_FAILURE(StartHealthy(R"({"spawn_child": true})"));
  const std::uint32_t grandchild = SpawnedChild(recorder_);
  ASSERT_NE(grandchild, 0u);
  EXPECT_TRUE(IsProcessAlive(grandchild));
  Call(*manager_, "stop_vpn");
  EXPECT_TRUE(WaitUntilGone(grandchild, milliseconds(3000)));
}

// The real OS, except that a stop's request never reaches the monitor's
// pending read (a system that ignores the cancellation).
class UnreachableCancellationOs : public ScopedProcessOs {
 public:
  std::unique_ptr<vpn_os::ReadCancellation> CreateReadCancellation() override {
    return std::make_unique<Unreachable>(ScopedProcessOs::CreateReadCancellation());
  }
  vpn_os::ReadResult Read(vpn_os::NativeHandle pipe, std::span<char> buffer,
                          vpn_os::ReadCancellation* cancellation) override {
    return ScopedProcessOs::Read(pipe, buffer, Real(cancellation));
  }
  vpn_os::ReadResult ReadWithTimeout(vpn_os::NativeHandle pipe, std::span<char> buffer,
                                     vpn_os::ReadCancellation* cancellation,
                                     std::chrono::milliseconds timeout) override {
    return ScopedProcessOs::ReadWithTimeout(pipe, buffer, Real(cancellation), timeout);
  }

 private:
  struct Unreachable : vpn_os::ReadCancellation {
    explicit Unreachable(std::unique_ptr<vpn_os::ReadCancellation> inner)
        : real(std::move(inner)) {}
    bool Cancel() override { return false; }
    bool IsCancelled() const override { return false; }
    std::unique_ptr<vpn_os::ReadCancellation> real;
  };
  static vpn_os::ReadCancellation* Real(vpn_os::ReadCancellation* cancellation) {
    return cancellation != nullptr ? static_cast<Unreachable*>(cancellation)->real.get() : nullptr;
  }
};

// The process sing-box started holds the pipe as well: ending only sing-box
// left the stop in the join for as long as that process lived.
TEST(RealStopTest, StopEndsTheWholeJobWhenTheMonitorsReadCannotBeCancelled) {
  NativeLogger::GetInstance().Initialize();
  UnreachableCancellationOs os;
  ScratchDir scratch;
  OutputRecorder recorder;
  VpnManager manager(os);
  Answer reply = StartVpn(manager, scratch.Write("config.json", StandinConfig(R"({"spawn_child": true})")));
  ASSERT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
  const std::uint32_t descendant = SpawnedChild(recorder);
  ASSERT_NE(descendant, 0u);

  auto stop = std::async(std::launch::async, [&] { return Call(manager, "stop_vpn"); });
  const bool finished = stop.wait_for(std::chrono::seconds(8)) == std::future_status::ready;
  if (!finished) {
    // Lets the stuck stop return, so the test can report it.
    vpn_os::HandleResult held = os.OpenProcessForTermination(descendant);
    if (held.ok()) os.Terminate(held.handle.get(), 0);
  }
  EXPECT_TRUE(finished) << "stop_vpn waited for the descendant holding the pipe";
  EXPECT_EQ(stop.get().kind, Answer::Kind::kSuccess);
  EXPECT_TRUE(WaitUntilGone(descendant, milliseconds(3000)));
}

// Once the child has ended by itself the monitor reads on, while a process
// it started outside the job still holds the pipe: a stop whose cancellation
// cannot reach that read ends the job, which does not end that process.
TEST(RealStopTest, AStopAfterTheChildsEndEndsThoughADescendantOutsideTheJobHoldsThePipe) {
  NativeLogger::GetInstance().Initialize();
  UnreachableCancellationOs os;
  if (!DescendantCanLeaveTheJob()) os.RefuseJobAssignment();
  ScratchDir scratch;
  OutputRecorder recorder;
  VpnManager manager(os);
  Answer reply = StartVpn(manager, scratch.Write("config.json", StandinConfig(
                                                     R"({"escape_child_ms": 20000, "exit_after_ms": 1300})")));
  ASSERT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
  const std::uint32_t descendant = SpawnedChild(recorder);
  ASSERT_NE(descendant, 0u);
  ASSERT_TRUE(WaitUntilGone(VpnManagerTestPeer(manager).process_id(), milliseconds(3000)));
  std::this_thread::sleep_for(milliseconds(300));  // the monitor's look at the child

  auto stop = std::async(std::launch::async, [&] { return Call(manager, "stop_vpn"); });
  const bool finished = stop.wait_for(std::chrono::seconds(8)) == std::future_status::ready;
  vpn_os::HandleResult held = os.OpenProcessForTermination(descendant);
  if (held.ok()) os.Terminate(held.handle.get(), 0);
  EXPECT_TRUE(finished) << "stop_vpn waited for the process holding the pipe";
  EXPECT_EQ(stop.get().kind, Answer::Kind::kSuccess);
}

TEST_F(RealLifecycleTest, ConfigPathWithChineseCharactersAndBlanks) {
  ScratchDir dir("velqa 配置 目录");
  const std::string config =
      dir.Write("节点 配置.json", StandinConfig(R"({"stdout": "config was read\n"})"));
  Answer reply = StartVpn(*manager_, config);
  ASSERT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
  EXPECT_THAT(recorder_.ConsoleLines(), Contains("VpnManager: Config file exists: " + config));
  // The command line keeps its form: both paths quoted, nothing escaped.
  std::string executable;
  for (const auto& line : recorder_.ConsoleLines()) {
    const std::string prefix = "VpnManager: Using executable: ";
    if (line.rfind(prefix, 0) == 0) executable = line.substr(prefix.size());
  }
  EXPECT_THAT(recorder_.ConsoleLines(), Contains("VpnManager: Executing command: \"" + executable +
                                                 "\" run -c \"" + config + "\""));
  // The child found the file under that path.
  EXPECT_TRUE(recorder_.WaitForRecord("config was read", kOutputTag, milliseconds(3000)));
  Call(*manager_, "stop_vpn");
}

}  // namespace
}  // namespace vpn_test
