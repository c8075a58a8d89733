// Shared by the fuzz targets.
#ifndef VELQA_FUZZ_FUZZ_SUPPORT_H_
#define VELQA_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

namespace velqa_fuzz {

// Malformed input is expected to produce diagnostics on every run. They are
// counted instead of written, so the fuzzer spends its time on inputs and a
// target can tell whether a decode complained. Crash reports bypass std::cerr.
class DiagnosticCounter : public std::streambuf {
 public:
  size_t characters() const { return characters_; }

 protected:
  int_type overflow(int_type c) override {
    ++characters_;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize count) override {
    characters_ += static_cast<size_t>(count);
    return count;
  }

 private:
  size_t characters_ = 0;
};

inline DiagnosticCounter& Diagnostics() {
  static DiagnosticCounter* counter = [] {
    auto* c = new DiagnosticCounter();
    std::cerr.rdbuf(c);
    return c;
  }();
  return *counter;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace velqa_fuzz

#endif  // VELQA_FUZZ_FUZZ_SUPPORT_H_
