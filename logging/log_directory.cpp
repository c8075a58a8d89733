#include "logging/log_directory.h"

#include <string>

#include "logging/executable_directory.h"
#include "logging/utf8_path.h"

namespace velqa::logging {

std::filesystem::path LogDirectoryBeside(std::string_view install_directory) {
  return PathFromUtf8(install_directory) / kLogDirectoryName;
}

std::filesystem::path LogDirectory() {
  const std::string install_directory = ExecutableDirectory();
  if (install_directory.empty()) return {};
  return LogDirectoryBeside(install_directory);
}

}  // namespace velqa::logging
