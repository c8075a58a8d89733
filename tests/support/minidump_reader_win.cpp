#include "tests/support/minidump_reader.h"

#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace velqa::testing {
namespace {

// "MDMP" as the little-endian number a minidump starts with.
constexpr ULONG32 kMinidumpSignature = 0x504D444D;

template <typename T>
bool ReadAt(const std::string& bytes, std::size_t offset, T* out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(out, bytes.data() + offset, sizeof(T));
  return true;
}

}  // namespace

MinidumpFacts ReadMinidump(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  MinidumpFacts facts;
  MINIDUMP_HEADER header{};
  if (!ReadAt(bytes, 0, &header)) return facts;
  facts.signature = header.Signature == kMinidumpSignature;
  for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY directory{};
    if (!ReadAt(bytes, header.StreamDirectoryRva + i * sizeof(directory), &directory)) break;
    const std::size_t at = directory.Location.Rva;
    if (directory.StreamType == ExceptionStream) {
      MINIDUMP_EXCEPTION_STREAM exception{};
      facts.has_exception = ReadAt(bytes, at, &exception);
      facts.crash_code = exception.ExceptionRecord.ExceptionCode;
      facts.exception_thread = exception.ThreadId;
    } else if (directory.StreamType == ThreadListStream) {
      ULONG32 count = 0;
      ReadAt(bytes, at, &count);
      for (ULONG32 t = 0; t < count; ++t) {
        MINIDUMP_THREAD thread{};
        if (!ReadAt(bytes, at + sizeof(count) + t * sizeof(thread), &thread)) break;
        if (thread.Stack.Memory.DataSize > 0) facts.threads_with_stack.push_back(thread.ThreadId);
      }
    }
  }
  return facts;
}

std::string CrashCodeText(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::set<std::filesystem::path> DumpFiles(const std::filesystem::path& logs) {
  std::set<std::filesystem::path> dumps;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(logs, error)) {
    if (entry.path().extension() == L".dmp") dumps.insert(entry.path());
  }
  return dumps;
}

}  // namespace velqa::testing
