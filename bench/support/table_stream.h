// For benchmarks of code that writes to standard output: the records go to
// /dev/null while the table and the comparison lines still reach the caller's
// standard output, at its current offset. That output may be a file that the
// caller, and the benchmarks run before this one, have written to: opening it
// anew would truncate it or write over their output.
//
// Threads: the benchmark's main thread.
#ifndef VELQA_BENCH_SUPPORT_TABLE_STREAM_H_
#define VELQA_BENCH_SUPPORT_TABLE_STREAM_H_

#include <ostream>
#include <streambuf>

namespace velqa_bench {

// Writes through a descriptor as it stands, at its current offset.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~DescriptorBuffer() override { sync(); }

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  int fd_;
  char buffer_[4096];
};

// Points standard output at /dev/null and returns a descriptor of what it
// was, or -1 after printing the failure to standard error.
int DivertStandardOutput();

// Standard output diverted to /dev/null for the code measured, and this
// stream writing where it went before, for the table.
class TableStream : public std::ostream {
 public:
  TableStream() : std::ostream(nullptr), fd_(DivertStandardOutput()), buffer_(fd_) {
    if (fd_ >= 0) rdbuf(&buffer_);
  }
  // False when standard output could not be diverted.
  bool ready() const { return fd_ >= 0; }

 private:
  int fd_;
  DescriptorBuffer buffer_;
};

}  // namespace velqa_bench

#endif  // VELQA_BENCH_SUPPORT_TABLE_STREAM_H_
