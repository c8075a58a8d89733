#include "vpn/os/job_guard_posix.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "vpn/os/close_descriptors_posix.h"
#include "vpn/os/pidfd_posix.h"

namespace vpn_os {

using velqa::base::UniqueFd;
namespace {

// Messages to the guard: a positive value arms it with that process group,
// kDisarm tells it the host has already ended the job.
constexpr std::int32_t kDisarm = -1;
constexpr int kMaxGroups = 64;

// Body of the guard process. Only async-signal-safe calls: it runs in a fork
// of a multi-threaded host and never executes another program.
[[noreturn]] void GuardMain(int from_host) {
  setsid();  // out of the host's session: a terminal's Ctrl-C must not end it
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  signal(SIGTERM, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  CloseDescriptorsFrom(0, from_host);

  pid_t groups[kMaxGroups];
  // A pidfd of each group's leader, taken while the host still keeps the
  // leader unreaped, so it is that very process (-1 without pidfd_open).
  int leaders[kMaxGroups];
  int count = 0;
  for (;;) {
    std::int32_t value = 0;
    const ssize_t got = recv(from_host, &value, sizeof value, MSG_WAITALL);
    if (got < 0 && errno == EINTR) continue;
    if (got == static_cast<ssize_t>(sizeof value)) {
      if (value == kDisarm) _exit(0);
      if (value > 0 && count < kMaxGroups) {
        groups[count] = value;
        leaders[count] = OpenPidFd(value);
        ++count;
      }
      continue;
    }
    // End of file (the job's handle is gone) or a broken pipe. The host no
    // longer keeps the leaders unreaped: a leader that has been reaped may
    // have left its id to an unrelated group, which must not be signalled.
    // Without a pidfd nothing can be told, and the group is signalled: its
    // id could then name a stranger's group.
    for (int i = 0; i < count; ++i) {
      if (leaders[i] < 0 || ProcessUnreaped(leaders[i], groups[i])) kill(-groups[i], SIGKILL);
    }
    _exit(0);
  }
}

}  // namespace

bool JobGuard::Start(JobGuard& guard, int& error) {
  // A socket pair rather than a pipe: writing to a guard that is gone must
  // fail with an error (MSG_NOSIGNAL), not raise SIGPIPE in the host.
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    error = errno;
    return false;
  }
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);

  // Fork twice so that the guard is not the host's child: the host reaps the
  // short-lived middle process at once, and the guard needs no reaping.
  const pid_t middle = fork();
  if (middle < 0) {
    error = errno;
    return false;
  }
  if (middle == 0) {
    const pid_t guard_pid = fork();
    if (guard_pid == 0) GuardMain(read_end.get());
    _exit(guard_pid < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = EAGAIN;
    return false;
  }
  guard.to_guard_ = std::move(write_end);
  guard.kill_on_close_ = false;
  guard.groups_.clear();
  return true;
}

void JobGuard::SendToGuard(pid_t value) {
  const std::int32_t message = value;
  // A guard that is gone is not an error worth reporting.
  while (send(to_guard_.get(), &message, sizeof message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

void JobGuard::EnableKillOnClose() {
  if (kill_on_close_) return;
  kill_on_close_ = true;
  for (pid_t group : groups_) SendToGuard(group);
}

void JobGuard::AddGroup(pid_t group) {
  groups_.push_back(group);
  if (kill_on_close_) SendToGuard(group);
}

void JobGuard::KillGroups() {
  for (pid_t group : groups_) kill(-group, SIGKILL);
}

void JobGuard::Close() {
  if (kill_on_close_) KillGroups();
  if (to_guard_.is_valid()) SendToGuard(kDisarm);
  to_guard_.Reset();
  groups_.clear();
}

}  // namespace vpn_os
