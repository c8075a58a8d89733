// Shared by the fuzz targets.
#ifndef VELQA_FUZZ_FUZZ_SUPPORT_H_
#define VELQA_FUZZ_FUZZ_SUPPORT_H_

#include <sys/types.h>
#include <cstdio>
#include <cstdlib>

namespace velqa_fuzz {

// Malformed input is expected to produce diagnostics on every run. They are
// counted instead of written, so the fuzzer spends its time on inputs and a
// target can tell whether a decode complained: the C library's standard error
// stream, where every diagnostic line goes, is replaced by a counting one
// (glibc lets a program assign `stderr`). libFuzzer keeps the stream it took
// at start-up and the sanitizers write to descriptor 2, so crash reports still
// reach the real standard error.
class DiagnosticCounter {
 public:
  size_t characters() const { return characters_; }

  // The stream the diagnostics went to before the counter took over.
  std::FILE* real_stderr() const { return real_stderr_; }

  static DiagnosticCounter* Install() {
    auto* counter = new DiagnosticCounter();
    counter->real_stderr_ = stderr;
    const cookie_io_functions_t functions{nullptr, &Count, nullptr, nullptr};
    std::FILE* counting = fopencookie(counter, "w", functions);
    if (counting == nullptr) std::abort();
    std::setvbuf(counting, nullptr, _IONBF, 0);
    stderr = counting;
    return counter;
  }

 private:
  static ssize_t Count(void* cookie, const char*, size_t size) {
    static_cast<DiagnosticCounter*>(cookie)->characters_ += size;
    return static_cast<ssize_t>(size);
  }

  size_t characters_ = 0;
  std::FILE* real_stderr_ = nullptr;
};

inline DiagnosticCounter& Diagnostics() {
  static DiagnosticCounter* counter = DiagnosticCounter::Install();
  return *counter;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(Diagnostics().real_stderr(), "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace velqa_fuzz

#endif  // VELQA_FUZZ_FUZZ_SUPPORT_H_
