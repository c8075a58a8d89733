#include "channel/engine_method_result.h"

#include "channel/channel_diagnostics.h"

namespace flutter {

SingleReply::SingleReply(BinaryReply reply) : reply_(std::move(reply)) {}

SingleReply::~SingleReply() {
  if (!answered_ && reply_) {
    internal::ReportUnansweredResult();
  }
}

void SingleReply::SendResponseData(const std::vector<uint8_t>* data) {
  if (answered_) {
    internal::ReportDuplicateResult();
    return;
  }
  // Marked used before the call, so an answer given from inside the reply is a
  // duplicate too; the closure itself is dropped when this returns.
  answered_ = true;
  BinaryReply reply = std::move(reply_);
  reply_ = nullptr;
  if (!reply) {
    return;  // Nobody waits for this answer.
  }
  const bool has_bytes = data != nullptr && !data->empty();
  reply(has_bytes ? data->data() : nullptr, data != nullptr ? data->size() : 0);
}

}  // namespace flutter
