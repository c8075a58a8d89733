// What the crash tests read from a minidump: its signature, its exception
// and the threads whose stacks it holds; and where the dumps are.
#ifndef VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_
#define VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_

#include <cstdint>
#include <filesystem>
#include <set>
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

// The crash dumps (".dmp" files) in a log folder; none when it is missing.
std::set<std::filesystem::path> DumpFiles(const std::filesystem::path& logs);

// "0xC0000005": a crash code as the crash record and the tests write it.
std::string CrashCodeText(std::uint32_t code);

}  // namespace velqa::testing

#endif  // VELQA_TESTS_SUPPORT_MINIDUMP_READER_H_
