// Sends standard output to the null device until destroyed, for benchmarks
// whose manager writes records and console lines while they measure: only
// the figures printed outside it reach the output.
//
// Threads: the benchmark's main thread.
#ifndef VELQA_TESTS_SUPPORT_QUIET_STDOUT_H_
#define VELQA_TESTS_SUPPORT_QUIET_STDOUT_H_

namespace vpn_test {

class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  // The C runtime's descriptor of what standard output was.
  int saved_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_QUIET_STDOUT_H_
