#include "tests/support/blocked_stdout_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "logging/console_output.h"

namespace vpn_test {

BlockedStdout::BlockedStdout() {
  std::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  if (pipe(ends) != 0) return;
  read_end_.Reset(ends[0]);
  velqa::base::UniqueFd write_end(ends[1]);
  // Full: a blocking write to it now waits for a reader.
  fcntl(write_end.get(), F_SETFL, O_NONBLOCK);
  const std::string chunk(4096, '#');
  while (write(write_end.get(), chunk.data(), chunk.size()) > 0) {
  }
  fcntl(write_end.get(), F_SETFL, 0);
  saved_.Reset(dup(STDOUT_FILENO));
  dup2(write_end.get(), STDOUT_FILENO);
}

std::string BlockedStdout::Release() {
  if (!saved_) return {};
  std::string text;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(read_end_.get(), buffer, sizeof buffer)) > 0) text.append(buffer, got);
  });
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(30));
  dup2(saved_.get(), STDOUT_FILENO);
  saved_.Reset();
  reader.join();
  text.erase(0, text.find_first_not_of('#'));
  return text;
}

}  // namespace vpn_test
