#include "channel/channel_diagnostics.h"

#include <charconv>
#include <string_view>

#include "base/stderr_line.h"

namespace flutter::internal {
namespace {

using velqa::base::WriteStderrLine;

// A number as decimal text in a buffer of its own, so that no line needs the
// heap.
class DecimalText {
 public:
  explicit DecimalText(int value) {
    size_ = static_cast<size_t>(std::to_chars(digits_, digits_ + sizeof(digits_), value).ptr -
                                digits_);
  }
  std::string_view view() const { return {digits_, size_}; }

 private:
  char digits_[16];
  size_t size_;
};

}  // namespace

void ReportInvalidRead() { WriteStderrLine("Invalid read in StandardCodecByteStreamReader"); }

void ReportUnknownType(int type) {
  WriteStderrLine("Unknown type in StandardCodecSerializer::ReadValueOfType: ",
                  DecimalText(type).view());
}

void ReportNestingTooDeep(int limit) {
  // Three pieces; only the limit's own digits are put together here.
  constexpr std::string_view kBefore = "Nesting deeper than ";
  constexpr std::string_view kAfter =
      " in StandardCodecSerializer::ReadValue; ignoring the rest of the message.";
  char line[kBefore.size() + 16 + kAfter.size()];
  const DecimalText digits(limit);
  size_t size = kBefore.copy(line, kBefore.size());
  size += digits.view().copy(line + size, digits.view().size());
  size += kAfter.copy(line + size, kAfter.size());
  WriteStderrLine(std::string_view(line, size));
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
  WriteStderrLine("Unable to construct method call from message on channel ", channel_name);
}

void ReportDuplicateResult() {
  WriteStderrLine(
      "Error: Only one of Success, Error, or NotImplemented can be called,"
      " and it can be called exactly once. Ignoring duplicate result.");
}

void ReportUnansweredResult() {
  WriteStderrLine("Warning: Failed to respond to a message. This is a memory leak.");
}

void ReportHandlerFailure(const char* what) { WriteStderrLine("Message handler failed: ", what); }

void ReportHandlerFailure() {
  WriteStderrLine("Message handler failed with an unknown exception.");
}

}  // namespace flutter::internal
