#include "bench/support/table_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/unique_fd_posix.h"

namespace velqa_bench {

int DescriptorBuffer::overflow(int c) {
  if (sync() != 0) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() {
  const char* next = pbase();
  while (next < pptr()) {
    const ssize_t written = write(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return -1;
    next += written;
  }
  setp(buffer_, buffer_ + sizeof buffer_);
  return 0;
}

int DivertStandardOutput() {
  const int table_fd = dup(STDOUT_FILENO);
  const velqa::base::UniqueFd null_fd(open("/dev/null", O_WRONLY));
  if (table_fd < 0 || !null_fd || dup2(null_fd.get(), STDOUT_FILENO) < 0) {
    std::perror("redirecting standard output");
    if (table_fd >= 0) close(table_fd);
    return -1;
  }
  return table_fd;
}

}  // namespace velqa_bench
