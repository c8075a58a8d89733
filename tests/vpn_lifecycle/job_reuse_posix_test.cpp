// The job stand-in on Linux signals process groups by their leader's id: an
// id that has passed to a new group must never be signalled.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "vpn/os/vpn_os.h"

namespace {

// Makes the next process id handed out `pid` if the system lets us (root in
// the pid namespace); false otherwise.
bool NextPidWillBe(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  last << pid - 1;
  last.flush();
  return static_cast<bool>(last);
}

TEST(JobPosixTest, ClosingTheJobNeverSignalsAGroupThatReusedTheLeadersId) {
  vpn_os::VpnOs& os = vpn_os::PlatformOs();
  vpn_os::HandleResult job = os.CreateJob();
  ASSERT_TRUE(job.ok());
  ASSERT_TRUE(os.ConfigureKillOnClose(job.handle.get()));
  vpn_os::PipeResult pipe = os.CreateOutputPipe();
  vpn_os::ProcessLaunch launch;
  launch.executable = "/bin/sh";
  launch.argv = {"/bin/sh", "-c", "exit 0"};
  launch.output = pipe.write_end.get();
  vpn_os::ProcessResult leader = os.StartProcess(launch);
  ASSERT_TRUE(leader.ok()) << leader.error;
  ASSERT_TRUE(os.AssignProcessToJob(job.handle.get(), leader.info.process.get()));
  // The leader ends, and the host learns its exit code.
  ASSERT_EQ(os.WaitForExit(leader.info.process.get(), std::chrono::seconds(5)).outcome,
            vpn_os::WaitOutcome::kExited);
  ASSERT_EQ(os.GetExitCode(leader.info.process.get()).exit_code, 0u);
  leader.info.CloseHandles();

  const pid_t id = static_cast<pid_t>(leader.info.process_id);
  if (!NextPidWillBe(id)) GTEST_SKIP() << "process ids cannot be steered here";
  const pid_t stranger = fork();
  if (stranger == 0) {
    setpgid(0, 0);
    pause();
    _exit(0);
  }
  ASSERT_GT(stranger, 0);
  setpgid(stranger, stranger);

  job.handle.Reset();  // kill-on-close: ends the job's groups
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int status = 0;
  EXPECT_EQ(waitpid(stranger, &status, WNOHANG), 0) << "a group outside the job was killed";
  EXPECT_NE(stranger, id) << "the leader's id was free while the job still named it";
  kill(stranger, SIGKILL);
  waitpid(stranger, &status, 0);
}

}  // namespace
