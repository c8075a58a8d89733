// The platform's real OS interface (Win32 under Wine, Linux natively):
// processes, their exit codes and ending, jobs, the output pipe and its
// cancellable read, the process list, library loading and the file tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/build_layout.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "vpn/os/vpn_os.h"

namespace vpn_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vpn_os::PathState;

#ifdef _WIN32
constexpr vpn_os::OsErrorCode kFileNotFound = 2;    // ERROR_FILE_NOT_FOUND
constexpr vpn_os::OsErrorCode kModuleNotFound = 126;  // ERROR_MOD_NOT_FOUND
#else
constexpr vpn_os::OsErrorCode kFileNotFound = 2;  // ENOENT
constexpr vpn_os::OsErrorCode kModuleNotFound = 2;
#endif

fs::path ProbePath() { return ExecutableDirectory() / ProgramName("vpn_test_probe"); }

// A probe child with `arguments`, its output into `pipe`.
vpn_os::ProcessResult StartProbe(vpn_os::VpnOs& os, const std::vector<std::string>& arguments,
                                 vpn_os::NativeHandle output, vpn_os::NativeHandle token = 0,
                                 const fs::path& program = ProbePath()) {
  return os.StartProcess(ProgramLaunch(program, arguments, output, token));
}

class PlatformOsTest : public testing::Test {
 protected:
  vpn_os::VpnOs& os_ = vpn_os::PlatformOs();
};

TEST_F(PlatformOsTest, ChildOutputExitCodeAndTheEndOfThePipe) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  ASSERT_TRUE(pipe.ok()) << pipe.error;
  vpn_os::ProcessResult child = StartProbe(os_, {"echo", "hello world", "7"}, pipe.write_end.get());
  ASSERT_TRUE(child.ok()) << child.error;
  EXPECT_NE(child.info.process_id, 0u);
  pipe.write_end.Reset();  // the child is now the only writer

  EXPECT_EQ(ReadToEnd(os_, pipe.read_end.get()), "hello world");
  EXPECT_EQ(os_.WaitForExit(child.info.process.get(), 10s).outcome, vpn_os::WaitOutcome::kExited);
  const vpn_os::ExitCodeResult code = os_.GetExitCode(child.info.process.get());
  ASSERT_TRUE(code.ok) << code.error;
  EXPECT_EQ(code.exit_code, 7u);
  // Asked again, the same answer (the status is kept once the child is gone).
  EXPECT_EQ(os_.GetExitCode(child.info.process.get()).exit_code, 7u);
}

TEST_F(PlatformOsTest, RunningChildIsStillActiveUntilTerminatedWithTheGivenCode) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::ProcessResult child = StartProbe(os_, {"sleep"}, pipe.write_end.get());
  ASSERT_TRUE(child.ok()) << child.error;
  const vpn_os::NativeHandle process = child.info.process.get();

  vpn_os::ExitCodeResult running = os_.GetExitCode(process);
  ASSERT_TRUE(running.ok);
  EXPECT_EQ(running.exit_code, vpn_os::kStillActive);
  EXPECT_EQ(os_.WaitForExit(process, 50ms).outcome, vpn_os::WaitOutcome::kTimedOut);

  ASSERT_TRUE(os_.Terminate(process, 0).ok);
  EXPECT_EQ(os_.WaitForExit(process, 10s).outcome, vpn_os::WaitOutcome::kExited);
  EXPECT_EQ(os_.GetExitCode(process).exit_code, 0u);
}

TEST_F(PlatformOsTest, ClosingAKillOnCloseJobEndsItsProcess) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::HandleResult job = os_.CreateJob();
  ASSERT_TRUE(job.ok()) << job.error;
  ASSERT_TRUE(os_.ConfigureKillOnClose(job.handle.get()).ok);
  vpn_os::ProcessResult child = StartProbe(os_, {"sleep"}, pipe.write_end.get());
  ASSERT_TRUE(child.ok()) << child.error;
  ASSERT_TRUE(os_.AssignProcessToJob(job.handle.get(), child.info.process.get()).ok);

  job.handle.Reset();
  EXPECT_EQ(os_.WaitForExit(child.info.process.get(), 10s).outcome,
            vpn_os::WaitOutcome::kExited);
}

bool ProcessListed(vpn_os::VpnOs& os, std::uint32_t process_id) {
  const vpn_os::SnapshotResult snapshot = os.SnapshotProcesses();
  return std::any_of(snapshot.processes.begin(), snapshot.processes.end(),
                     [&](const vpn_os::ProcessEntry& entry) {
                       return entry.process_id == process_id &&
                              entry.image_name == ProgramName("vpn_test_probe");
                     });
}

TEST_F(PlatformOsTest, AHostKilledHardTakesTheProcessesOfItsJobWithIt) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::ProcessResult host = StartProbe(os_, {"host"}, pipe.write_end.get());
  ASSERT_TRUE(host.ok()) << host.error;
  pipe.write_end.Reset();
  std::string output;
  char buffer[256];
  while (output.find('\n') == std::string::npos) {
    const vpn_os::ReadResult read = os_.Read(pipe.read_end.get(), buffer, nullptr);
    if (!read.ok || read.bytes == 0) break;
    output.append(buffer, read.bytes);
  }
  ASSERT_EQ(output.rfind("child=", 0), 0u) << output;
  const std::uint32_t child_id = static_cast<std::uint32_t>(std::stoul(output.substr(6)));
  ASSERT_TRUE(ProcessListed(os_, child_id));

  // No clean-up of its own runs in the host: the platform ends the job.
  ASSERT_TRUE(os_.Terminate(host.info.process.get(), 9).ok);
  ASSERT_EQ(os_.WaitForExit(host.info.process.get(), 10s).outcome, vpn_os::WaitOutcome::kExited);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ProcessListed(os_, child_id) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(ProcessListed(os_, child_id)) << "the job's process outlived its host";
}

TEST_F(PlatformOsTest, AJobWithoutKillOnCloseLetsItsProcessRun) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::HandleResult job = os_.CreateJob();
  vpn_os::ProcessResult child = StartProbe(os_, {"sleep"}, pipe.write_end.get());
  ASSERT_TRUE(child.ok()) << child.error;
  ASSERT_TRUE(os_.AssignProcessToJob(job.handle.get(), child.info.process.get()).ok);
  job.handle.Reset();
  EXPECT_EQ(os_.WaitForExit(child.info.process.get(), 300ms).outcome,
            vpn_os::WaitOutcome::kTimedOut);
  os_.Terminate(child.info.process.get(), 0);
  os_.WaitForExit(child.info.process.get(), 10s);
}

TEST_F(PlatformOsTest, SnapshotListsAChildByItsImageNameAndItCanBeEndedById) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::ProcessResult child = StartProbe(os_, {"sleep"}, pipe.write_end.get());
  ASSERT_TRUE(child.ok()) << child.error;

  const vpn_os::SnapshotResult snapshot = os_.SnapshotProcesses();
  ASSERT_TRUE(snapshot.ok) << snapshot.error;
  const auto entry = std::find_if(
      snapshot.processes.begin(), snapshot.processes.end(),
      [&](const vpn_os::ProcessEntry& process) { return process.process_id == child.info.process_id; });
  ASSERT_NE(entry, snapshot.processes.end());
  EXPECT_EQ(entry->image_name, ProgramName("vpn_test_probe"));

  vpn_os::HandleResult opened = os_.OpenProcessForTermination(child.info.process_id);
  ASSERT_TRUE(opened.ok()) << opened.error;
  ASSERT_TRUE(os_.Terminate(opened.handle.get(), 0).ok);
  EXPECT_EQ(os_.WaitForExit(child.info.process.get(), 10s).outcome,
            vpn_os::WaitOutcome::kExited);
}

// What the child's token holds is not asked here: only that every token step
// succeeds and that a child starts and runs with the duplicate.
TEST_F(PlatformOsTest, TokenStepsSucceedAndAChildRunsWithTheDuplicate) {
  vpn_os::HandleResult token = os_.OpenOwnProcessToken();
  ASSERT_TRUE(token.ok()) << token.error;
  vpn_os::HandleResult duplicate = os_.DuplicatePrimaryToken(token.handle.get());
  ASSERT_TRUE(duplicate.ok()) << duplicate.error;
  const vpn_os::PrivilegeResult privilege = os_.LookupPrivilege("SeDebugPrivilege");
  ASSERT_TRUE(privilege.ok) << privilege.error;
  EXPECT_TRUE(os_.EnablePrivilege(duplicate.handle.get(), privilege.id).ok);

  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::ProcessResult child =
      StartProbe(os_, {"echo", "token", "0"}, pipe.write_end.get(), duplicate.handle.get());
  ASSERT_TRUE(child.ok()) << child.error;
  pipe.write_end.Reset();
  EXPECT_EQ(ReadToEnd(os_, pipe.read_end.get()), "token");
}

#ifndef _WIN32
// A host whose descriptors 0-2 are closed gets the pipe as 0 and 1: the child
// must still write into it (the probe starts an "echo" child that way and
// exits with 0 only when the text arrived).
TEST_F(PlatformOsTest, AChildGetsItsOutputWhenTheHostsStandardStreamsAreClosed) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  vpn_os::ProcessResult host = StartProbe(os_, {"closed-std"}, pipe.write_end.get());
  ASSERT_TRUE(host.ok()) << host.error;
  ASSERT_EQ(os_.WaitForExit(host.info.process.get(), 10s).outcome, vpn_os::WaitOutcome::kExited);
  EXPECT_EQ(os_.GetExitCode(host.info.process.get()).exit_code, 0u);
}
#endif

TEST_F(PlatformOsTest, StartingAMissingProgramFailsWithNotFound) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  ScratchDir dir("velqa os");
  vpn_os::ProcessResult child =
      StartProbe(os_, {"sleep"}, pipe.write_end.get(), 0, dir.path() / ProgramName("absent"));
  EXPECT_FALSE(child.ok());
  EXPECT_EQ(child.error, kFileNotFound);
}

// Plain and timed reads alike: a cancellation ends them at once, and a timed
// read with nothing to read ends at its time though a writer remains.
TEST_F(PlatformOsTest, APendingReadEndsPromptlyWhenCancelledOrTimedOut) {
  vpn_os::PipeResult pipe = os_.CreateOutputPipe();  // nobody ever writes
  for (const bool timed : {false, true}) {
    SCOPED_TRACE(timed ? "ReadWithTimeout" : "Read");
    std::unique_ptr<vpn_os::ReadCancellation> cancellation = os_.CreateReadCancellation();
    const auto read = [&](std::span<char> buffer) {
      return timed ? os_.ReadWithTimeout(pipe.read_end.get(), buffer, cancellation.get(), 60s)
                   : os_.Read(pipe.read_end.get(), buffer, cancellation.get());
    };
    vpn_os::ReadResult result;
    std::thread reader([&] {
      char buffer[64];
      result = read(buffer);
    });
    std::this_thread::sleep_for(100ms);  // let the reader block in its read
    const auto start = std::chrono::steady_clock::now();
    cancellation->Cancel();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);

    // Cancelled once, cancelled for good: the next read does not block.
    char buffer[64];
    EXPECT_TRUE(read(buffer).cancelled);
  }
  char buffer[64];
  const vpn_os::ReadResult idle = os_.ReadWithTimeout(pipe.read_end.get(), buffer, nullptr, 100ms);
  EXPECT_FALSE(idle.ok);
  EXPECT_TRUE(idle.timed_out);
  EXPECT_FALSE(idle.cancelled);
}

TEST_F(PlatformOsTest, LibrariesLoadAndReportWhyNot) {
  const fs::path library = ExecutableDirectory() / "wintun" / "wintun_x64.dll";
  vpn_os::ModuleResult loaded = os_.LoadModule(library);
  EXPECT_TRUE(loaded.ok()) << loaded.error;

  ScratchDir dir("velqa os");
  const vpn_os::ModuleResult missing = os_.LoadModule(dir.path() / "wintun_x64.dll");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error, kModuleNotFound);
}

TEST_F(PlatformOsTest, ExistenceTestTellsNotFoundFromFailure) {
  ScratchDir dir("velqa os 存在");
  const fs::path file = dir.WriteFile("file.txt");
  EXPECT_EQ(os_.PathExists(file).state, PathState::kExists);
  EXPECT_EQ(os_.PathExists(dir.path()).state, PathState::kExists);
  EXPECT_EQ(os_.PathExists(dir.path() / "absent").state, PathState::kNotFound);
  EXPECT_EQ(os_.PathExists(dir.path() / "absent" / "deeper").state, PathState::kNotFound);
  EXPECT_EQ(os_.PathExists(file / "below-a-file").state, PathState::kNotFound);
  EXPECT_EQ(os_.PathExists("").state, PathState::kNotFound);
#ifndef _WIN32
  // A symbolic link loop is neither there nor absent: the query fails.
  fs::create_symlink(dir.path() / "loop", dir.path() / "loop");
  const vpn_os::PathExistsResult loop = os_.PathExists(dir.path() / "loop");
  EXPECT_EQ(loop.state, PathState::kError);
  EXPECT_NE(loop.error, 0u);
#endif
}

TEST_F(PlatformOsTest, ExecutablePathAndArchitectureDescribeThisProgram) {
  const vpn_os::PathResult executable = os_.ExecutablePath();
  ASSERT_TRUE(executable.ok) << executable.error;
  EXPECT_EQ(executable.path.filename(), fs::path(ProgramName("vpn_tests")));
  EXPECT_TRUE(fs::exists(executable.path));
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_EQ(os_.NativeArchitecture(), vpn_os::kArchitectureAmd64);
#endif
}

}  // namespace
}  // namespace vpn_test
