#include "vpn/sing_box_output.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "logging/native_logger.h"

namespace velqa::vpn {
namespace {

constexpr char kEscape = '\x1b';
constexpr char kBell = '\x07';

// Length of the escape sequence starting at line[i] (line[i] == ESC).
size_t EscapeLength(std::string_view line, size_t i) {
  size_t j = i + 1;
  if (j >= line.size()) return 1;
  char kind = line[j];
  if (kind == '[') {  // CSI: parameters and intermediates, then one final byte
    for (++j; j < line.size(); ++j) {
      unsigned char c = static_cast<unsigned char>(line[j]);
      if (c >= 0x40 && c <= 0x7E) return j + 1 - i;
    }
    return line.size() - i;
  }
  if (kind == ']') {  // OSC: up to BEL or ESC backslash
    for (++j; j < line.size(); ++j) {
      if (line[j] == kBell) return j + 1 - i;
      if (line[j] == kEscape && j + 1 < line.size() && line[j + 1] == '\\') return j + 2 - i;
    }
    return line.size() - i;
  }
  // Other escapes: intermediate bytes, then one final byte ("ESC ( B").
  while (j < line.size() && static_cast<unsigned char>(line[j]) >= 0x20 &&
         static_cast<unsigned char>(line[j]) <= 0x2F) {
    ++j;
  }
  return std::min(j + 1, line.size()) - i;
}

// The text of a chunk: up to its first zero byte.
size_t TextLength(const char* data, size_t size) {
  const void* zero = std::memchr(data, '\0', size);
  return zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size;
}

// The line feeds in [data, end), counted in rows of 16 bytes into 16 byte
// counters that cannot overflow within 255 rows: a loop compilers turn into
// one vector compare and add per row, several times faster than one search
// per line, which a flood of short lines would make the monitor's main cost.
std::uint64_t CountLineFeeds(const char* data, const char* end) {
  constexpr size_t kLanes = 16;
  constexpr size_t kMaxRows = 255;
  std::uint64_t count = 0;
  while (static_cast<size_t>(end - data) >= kLanes) {
    const size_t rows = std::min(kMaxRows, static_cast<size_t>(end - data) / kLanes);
    std::uint8_t lanes[kLanes] = {};
    for (size_t row = 0; row < rows; ++row, data += kLanes) {
      for (size_t lane = 0; lane < kLanes; ++lane) lanes[lane] += data[lane] == '\n' ? 1 : 0;
    }
    for (std::uint8_t lane : lanes) count += lane;
  }
  for (; data < end; ++data) count += *data == '\n' ? 1 : 0;
  return count;
}

}  // namespace

std::string CleanOutputLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string out;
  out.reserve(line.size());
  size_t i = 0;
  while (i < line.size()) {
    size_t escape = line.find(kEscape, i);
    if (escape == std::string_view::npos) {
      out.append(line.substr(i));
      break;
    }
    out.append(line.substr(i, escape - i));
    i = escape + EscapeLength(line, escape);
  }
  return out;
}

void LogOutputLine(std::string_view line) {
  std::string text = CleanOutputLine(line);
  if (!text.empty()) NativeLogger::GetInstance().Info(text, kSingBoxOutputTag);
}

void OutputLineSplitter::Append(const char* data, size_t size) {
  const char* end = data + TextLength(data, size);
  while (data < end) {
    const char* feed = static_cast<const char*>(std::memchr(data, '\n', end - data));
    if (feed == nullptr) {
      pending_.append(data, end);
      break;
    }
    if (pending_.empty()) {  // the common case: no copy
      sink_(std::string_view(data, feed - data));
    } else {
      pending_.append(data, feed);
      sink_(pending_);
      pending_.clear();
    }
    data = feed + 1;
  }
  while (pending_.size() >= kMaxLine) {
    sink_(std::string_view(pending_).substr(0, kMaxLine));
    pending_.erase(0, kMaxLine);
  }
}

std::uint64_t OutputLineSplitter::Skip(const char* data, size_t size) {
  const char* end = data + TextLength(data, size);
  std::uint64_t lines = CountLineFeeds(data, end);
  if (lines > 0) {
    auto last_feed =
        std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(data), '\n');
    pending_.assign(last_feed.base(), end);
  } else {
    pending_.append(data, end);
  }
  for (; pending_.size() >= kMaxLine; ++lines) pending_.erase(0, kMaxLine);
  return lines;
}

void LineBudget::Refill(Clock::time_point now) {
  if (!started_) {
    started_ = true;
    last_ = now;
  }
  double elapsed = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  tokens_ = std::min(burst_, tokens_ + elapsed * per_second_);
}

bool LineBudget::Exhausted(Clock::time_point now) {
  Refill(now);
  return tokens_ < 1;
}

bool LineBudget::Take(Clock::time_point now) {
  Refill(now);
  if (tokens_ >= 1) {
    tokens_ -= 1;
    return true;
  }
  ++skipped_;
  return false;
}

std::uint64_t LineBudget::TakeSkipped() { return std::exchange(skipped_, 0); }

ChildOutputLog::ChildOutputLog(Record record, LineBudget& budget)
    : record_(record),
      budget_(budget),
      lines_([this](std::string_view line) {
        if (budget_.Take(chunk_time_)) {
          ReportSkipped();
          LogOutputLine(line);
        }
      }) {}

void ChildOutputLog::Append(const char* data, std::size_t size) {
  // In a flood whose budget is spent, the lines of a chunk are only counted,
  // not cut out one by one, and the clock (slow to read on some machines) is
  // read only every few chunks: a line's worth of budget accrues in 5 ms, and
  // those chunks arrive in far less. So the drain keeps pace with the child.
  if (!flooding_ || ++chunks_since_clock_ >= kFloodChunksPerClockReading) {
    chunk_time_ = LineBudget::Clock::now();
    chunks_since_clock_ = 0;
  }
  flooding_ = budget_.Exhausted(chunk_time_);
  if (flooding_) {
    budget_.CountSkipped(lines_.Skip(data, size));
  } else {
    lines_.Append(data, size);
  }
}

void ChildOutputLog::Flush() {
  std::string last = lines_.TakePending();
  if (!last.empty()) LogOutputLine(last);
  ReportSkipped();
}

void ChildOutputLog::ReportSkipped() {
  if (std::uint64_t skipped = budget_.TakeSkipped()) {
    record_(std::to_string(skipped) + " lines of sing-box output not logged (output too fast)");
  }
}

}  // namespace velqa::vpn
