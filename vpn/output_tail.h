// The last of sing-box's output, kept for the event that tells the Dart side
// that sing-box has ended: its last whole lines, as valid UTF-8.
//
// Threads: any; the monitor appends while the platform thread may read.
#ifndef VELQA_VPN_OUTPUT_TAIL_H_
#define VELQA_VPN_OUTPUT_TAIL_H_

#include <cstddef>
#include <mutex>
#include <string>

namespace velqa::vpn {

class OutputTail {
 public:
  // The most LastLines gives, in bytes of UTF-8.
  static constexpr std::size_t kLimit = 4096;

  void Append(const char* data, std::size_t size);
  void Clear();
  // The last whole lines, at most kLimit bytes, line ends as written; an
  // unfinished last line counts as a line. A single line longer than the
  // limit gives its end, cut on a character boundary. Bytes that are not
  // UTF-8 become U+FFFD, so the text decodes on the Dart side.
  std::string LastLines() const;

 private:
  mutable std::mutex mutex_;
  // The last bytes of the output, a few more than the limit so that the
  // line boundary before the limit is known: a ring of kKept bytes (set in
  // the source), `filled_` of them used, the next written at `next_`.
  std::string ring_;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  bool cut_ = false;  // bytes before kept_ were dropped
};

}  // namespace velqa::vpn

#endif  // VELQA_VPN_OUTPUT_TAIL_H_
