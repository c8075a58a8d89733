// The one-line diagnostics of the messaging layer. Each writes its line to
// standard error in one piece, ends it with a newline and flushes, so lines
// from several threads do not interleave within a line.
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

}  // namespace flutter::internal

#endif  // VELQA_CHANNEL_CHANNEL_DIAGNOSTICS_H_
