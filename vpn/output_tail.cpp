#include "vpn/output_tail.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/utf16_text.h"

namespace velqa::vpn {
namespace {

// Room for the limit, the invalid bytes that grow into three-byte
// replacements, and the line end in front of them.
constexpr std::size_t kKept = 4 * OutputTail::kLimit;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

void OutputTail::Append(const char* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A ring: during a flood each byte is copied once, never the whole tail
  // again at every read.
  if (ring_.empty()) ring_.resize(kKept);
  if (size >= kKept) {
    std::memcpy(ring_.data(), data + size - kKept, kKept);
    next_ = 0;
    filled_ = kKept;
    cut_ = true;
    return;
  }
  const std::size_t first = std::min(size, kKept - next_);
  std::memcpy(ring_.data() + next_, data, first);
  std::memcpy(ring_.data(), data + first, size - first);
  next_ = (next_ + size) % kKept;
  if (filled_ + size > kKept) cut_ = true;
  filled_ = std::min(kKept, filled_ + size);
}

void OutputTail::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  next_ = 0;
  filled_ = 0;
  cut_ = false;
}

std::string OutputTail::LastLines() const {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Oldest first: until the ring is full, its start.
    const std::string ordered = filled_ < kKept
                                    ? ring_.substr(0, filled_)
                                    : ring_.substr(next_) + ring_.substr(0, next_);
    std::string_view kept = ordered;
    // A first line whose beginning was dropped is not whole (unless it is
    // the only one: then its end is all there is to give).
    const std::size_t line_end = kept.find('\n');
    if (cut_ && line_end != std::string_view::npos && line_end + 1 < kept.size()) {
      kept.remove_prefix(line_end + 1);
    }
    text = base::Utf8ForDisplay(kept);
  }
  if (text.size() <= kLimit) return text;
  // Whole lines that fit: everything after the first line end that leaves
  // at most the limit.
  const std::size_t from = text.size() - kLimit;
  const std::size_t line_end = text.find('\n', from - 1);
  if (line_end != std::string::npos && line_end + 1 < text.size()) return text.substr(line_end + 1);
  // The last line alone is longer: its end, from a character's first byte.
  std::size_t start = from;
  while (start < text.size() && IsContinuation(text[start])) ++start;
  return text.substr(start);
}

}  // namespace velqa::vpn
