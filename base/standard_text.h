// Writing text to the process's standard output or error without the C
// library's stream: no stream lock is held while the destination blocks, and
// a console gets the text as UTF-16 whatever its code page is, so the host
// never changes that code page (it belongs to the user's shell).
//
// Threads: any; a call blocks while its destination does (a pipe nobody
// reads, a console whose text is being selected).
#ifndef VELQA_BASE_STANDARD_TEXT_H_
#define VELQA_BASE_STANDARD_TEXT_H_

#include <string_view>

namespace velqa::base {

enum class StandardStream { kOutput, kError };

// Writes UTF-8 `text` to the current destination of descriptor 1 or 2. On a
// Windows console it goes through WriteConsoleW (a byte that is not UTF-8
// shows as U+FFFD); elsewhere the bytes go out as they are, on Windows with
// every "\n" stored as "\r\n" as the C runtime's text mode does. Nothing is
// allocated. False when the stream is missing or a write failed.
bool WriteStandardText(StandardStream stream, std::string_view text);

}  // namespace velqa::base

#endif  // VELQA_BASE_STANDARD_TEXT_H_
