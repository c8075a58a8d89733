// The one-line diagnostics of the messaging layer. Each writes its line to
// standard error in one piece, ends it with a newline and flushes, so lines
// from several threads do not interleave within a line. None allocates: they
// also run in the catch blocks of the C callbacks after memory has run out.
#ifndef VELQA_CHANNEL_CHANNEL_DIAGNOSTICS_H_
#define VELQA_CHANNEL_CHANNEL_DIAGNOSTICS_H_

#include <string_view>

namespace flutter::internal {

void ReportInvalidRead();
void ReportUnknownType(int type);
void ReportNestingTooDeep(int limit);
void ReportUnhandledCustomType();
void ReportInvalidMethodCall();
void ReportUnconstructableMethodCall(std::string_view channel_name);
void ReportDuplicateResult();
void ReportUnansweredResult();
// A message handler ended with an exception; `what` is its text.
void ReportHandlerFailure(const char* what);
// The same for an exception that is no std::exception.
void ReportHandlerFailure();

}  // namespace flutter::internal

#endif  // VELQA_CHANNEL_CHANNEL_DIAGNOSTICS_H_
