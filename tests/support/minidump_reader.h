// What the crash tests read from a minidump: its signature, its exception
// and the threads whose stacks it holds.
#ifndef VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_
#define VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velqa::testing {

struct MinidumpFacts {
  bool signature = false;  // starts with "MDMP"
  bool has_exception = false;
  std::uint32_t crash_code = 0;
  std::uint32_t exception_thread = 0;
  // Threads listed with at least some of their stack.
  std::vector<std::uint32_t> threads_with_stack;
};

MinidumpFacts ReadMinidump(const std::filesystem::path& path);

// "0xC0000005": a crash code as the crash record and the tests write it.
std::string CrashCodeText(std::uint32_t code);

}  // namespace velqa::testing

#endif  // VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_
