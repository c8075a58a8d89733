#include "channel/channel_diagnostics.h"

#include <iostream>
#include <string>

namespace flutter::internal {
namespace {

void WriteLine(std::string line) {
  line += '\n';
  std::cerr << line << std::flush;
}

}  // namespace

void ReportInvalidRead() { WriteLine("Invalid read in StandardCodecByteStreamReader"); }

void ReportUnknownType(int type) {
  WriteLine("Unknown type in StandardCodecSerializer::ReadValueOfType: " + std::to_string(type));
}

void ReportNestingTooDeep(int limit) {
  WriteLine("Nesting deeper than " + std::to_string(limit) +
            " in StandardCodecSerializer::ReadValue; ignoring the rest of the message.");
}

void ReportUnhandledCustomType() {
  WriteLine(
      "Unhandled custom type in StandardCodecSerializer::WriteValue. "
      "Custom types require codec extensions.");
}

void ReportInvalidMethodCall() { WriteLine("Invalid method call; method name is not a string."); }

void ReportUnconstructableMethodCall(std::string_view channel_name) {
  WriteLine("Unable to construct method call from message on channel " + std::string(channel_name));
}

void ReportDuplicateResult() {
  WriteLine(
      "Error: Only one of Success, Error, or NotImplemented can be called,"
      " and it can be called exactly once. Ignoring duplicate result.");
}

void ReportUnansweredResult() {
  WriteLine("Warning: Failed to respond to a message. This is a memory leak.");
}

}  // namespace flutter::internal
