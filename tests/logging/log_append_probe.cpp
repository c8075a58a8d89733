// A second process writing the day's log: appends `count` records
// "<tag> <n> <padding>" through the logger's own file type.
//   log_append_probe FILE TAG COUNT
// Exit code 0 when every record was written, 1 on a failure, 2 on bad usage.
#include <string>

#include "base/utf8_path.h"
#include "logging/log_file.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  velqa::logging::LogFile file;
  if (!file.open(velqa::base::PathFromUtf8(argv[1]))) return 1;
  const std::string tag = argv[2];
  const int count = std::stoi(argv[3]);
  // Longer than a C runtime's stream buffer chunk would split it.
  const std::string padding(150, tag.empty() ? '-' : tag[0]);
  for (int i = 0; i < count; ++i) {
    if (file.append(tag + " " + std::to_string(i) + " " + padding + "\n")) return 1;
  }
  return 0;
}
