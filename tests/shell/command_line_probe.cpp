// Started by command_line_test with a command line of the test's choosing:
// writes every argument CollectCommandLineArguments finds in this process to
// standard output, each followed by a line feed.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "shell/command_line.h"

int main() {
  // Line feeds as they are, so an argument's bytes come back unchanged.
  _setmode(_fileno(stdout), _O_BINARY);
  for (const std::string& argument : CollectCommandLineArguments()) {
    std::fwrite(argument.data(), 1, argument.size(), stdout);
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
