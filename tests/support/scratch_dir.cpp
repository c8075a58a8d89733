#include "tests/support/scratch_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <system_error>

#include "base/utf8_path.h"

namespace vpn_test {

using velqa::base::PathFromUtf8;
using velqa::base::Utf8FromPath;

ScratchDir::ScratchDir(const std::string& utf8_name) {
  // Time and a counter: parallel test processes and several folders of one
  // test never meet.
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          PathFromUtf8(utf8_name + " " + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::WriteFile(const std::filesystem::path& relative,
                                            const std::string& content) const {
  const std::filesystem::path file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  return file;
}

std::string ScratchDir::Write(const std::string& utf8_name, const std::string& content) const {
  return Utf8FromPath(WriteFile(PathFromUtf8(utf8_name), content));
}

}  // namespace vpn_test
