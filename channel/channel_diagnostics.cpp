#include "channel/channel_diagnostics.h"

#include <string>

#include "base/stderr_line.h"

namespace flutter::internal {

using velqa::base::WriteStderrLine;

void ReportInvalidRead() { WriteStderrLine("Invalid read in StandardCodecByteStreamReader"); }

void ReportUnknownType(int type) {
  WriteStderrLine("Unknown type in StandardCodecSerializer::ReadValueOfType: " +
                  std::to_string(type));
}

void ReportNestingTooDeep(int limit) {
  WriteStderrLine("Nesting deeper than " + std::to_string(limit) +
                  " in StandardCodecSerializer::ReadValue; ignoring the rest of the message.");
}

void ReportUnhandledCustomType() {
  WriteStderrLine(
      "Unhandled custom type in StandardCodecSerializer::WriteValue. "
      "Custom types require codec extensions.");
}

void ReportInvalidMethodCall() {
  WriteStderrLine("Invalid method call; method name is not a string.");
}

void ReportUnconstructableMethodCall(std::string_view channel_name) {
  WriteStderrLine("Unable to construct method call from message on channel " +
                  std::string(channel_name));
}

void ReportDuplicateResult() {
  WriteStderrLine(
      "Error: Only one of Success, Error, or NotImplemented can be called,"
      " and it can be called exactly once. Ignoring duplicate result.");
}

void ReportUnansweredResult() {
  WriteStderrLine("Warning: Failed to respond to a message. This is a memory leak.");
}

}  // namespace flutter::internal
