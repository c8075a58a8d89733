#include "tests/support/quiet_stdout.h"

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>

#include "logging/console_output.h"

namespace vpn_test {

// The C runtime's descriptors have no owner type of their own: each one
// opened here is closed in this file, once its copy is made.
QuietStdout::QuietStdout() : saved_(_dup(1)) {
  std::fflush(stdout);
  const int null = _open("NUL", _O_WRONLY);
  _dup2(null, 1);
  _close(null);
}

QuietStdout::~QuietStdout() {
  // The manager's lines reach standard output from the console queue's own
  // thread: they go out before the output is restored.
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(5));
  std::fflush(stdout);
  _dup2(saved_, 1);
  _close(saved_);
}

}  // namespace vpn_test
