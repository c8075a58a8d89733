#include "tests/support/quiet_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/unique_fd_posix.h"
#include "logging/console_output.h"

namespace vpn_test {

QuietStdout::QuietStdout() : saved_(dup(STDOUT_FILENO)) {
  std::fflush(stdout);
  const velqa::base::UniqueFd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
  dup2(null.get(), STDOUT_FILENO);
}

QuietStdout::~QuietStdout() {
  // The manager's lines reach standard output from the console queue's own
  // thread: they go out before the output is restored.
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(5));
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  const velqa::base::UniqueFd saved(saved_);
}

}  // namespace vpn_test
