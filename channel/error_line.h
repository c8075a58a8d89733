// Writes one diagnostic line of the embedding wrappers to standard error in a
// single write, newline included, and flushes it, so that lines written from
// several threads never interleave.
#ifndef VELQA_CHANNEL_ERROR_LINE_H_
#define VELQA_CHANNEL_ERROR_LINE_H_

#include <iostream>
#include <string>
#include <string_view>

namespace flutter::internal {

inline void WriteErrorLine(std::string_view text) {
  std::string line(text);
  line += '\n';
  std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cerr.flush();
}

}  // namespace flutter::internal

#endif  // VELQA_CHANNEL_ERROR_LINE_H_
