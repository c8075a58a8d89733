#include "vpn/os/child_launch_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/unique_fd_posix.h"
#include "vpn/os/close_descriptors_posix.h"
#include "vpn/os/last_error_posix.h"

namespace vpn_os {

using velqa::base::UniqueFd;
namespace {

// A descriptor numbered 0, 1 or 2 (the host's own standard streams were
// closed, so the pipe took their place) is moved above them first, close-on-
// exec like the original: setting up the standard streams would otherwise
// overwrite it, or dup2 of a descriptor onto itself would keep its
// close-on-exec flag and the child would lose its output.
int AboveStandardStreams(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  return moved >= 0 ? moved : fd;
}

// Runs in the forked child until exec: async-signal-safe calls only.
[[noreturn]] void ExecChild(const char* path, char* const* argv, int output_fd, int error_fd,
                            bool high_priority) {
  output_fd = AboveStandardStreams(output_fd);
  error_fd = AboveStandardStreams(error_fd);
  // Its own process group: the job ends the child and everything it starts.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal_number : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD}) {
    signal(signal_number, SIG_DFL);
  }
  const int null_fd = open("/dev/null", O_RDONLY);  // no standard input
  if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
  dup2(output_fd, STDOUT_FILENO);
  dup2(output_fd, STDERR_FILENO);
  // The child holds its three standard streams and nothing else of the
  // host's: no log file, no other pipe. The error pipe closes at exec.
  CloseDescriptorsFrom(STDERR_FILENO + 1, error_fd);
  // Raising the priority needs privilege; without it the child runs at the
  // normal priority, which is all an unprivileged host may give.
  if (high_priority) setpriority(PRIO_PROCESS, 0, -10);
  execv(path, argv);
  const int error = errno;
  while (write(error_fd, &error, sizeof error) < 0 && errno == EINTR) {
  }
  _exit(127);
}

}  // namespace

LaunchedChild ForkAndExec(const ProcessLaunch& launch, int output_fd) {
  LaunchedChild result;
  // Everything the child needs is prepared before the fork.
  const std::string path = launch.executable.string();
  std::vector<std::string> arguments = launch.argv;
  if (arguments.empty()) arguments.push_back(path);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int error_pipe[2];
  if (pipe2(error_pipe, O_CLOEXEC) != 0) {
    result.error = LastError();
    return result;
  }
  UniqueFd error_read(error_pipe[0]);
  UniqueFd error_write(error_pipe[1]);

  const pid_t pid = fork();
  if (pid < 0) {
    result.error = LastError();
    return result;
  }
  if (pid == 0) {
    ExecChild(path.c_str(), argv.data(), output_fd, error_write.get(), launch.high_priority);
  }
  // Also set here, so that the group exists whichever of the two runs
  // first (the child may already have executed: then this fails harmlessly).
  setpgid(pid, pid);
  error_write.Reset();
  // The error pipe closes at a successful exec; otherwise it carries errno.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(error_read.get(), &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof exec_error)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.error = static_cast<OsErrorCode>(exec_error);
    return result;
  }
  result.pid = pid;
  return result;
}

}  // namespace vpn_os
