#include "tests/support/vpn_answer.h"

#include <utility>

#include "channel/method_call.h"

namespace vpn_test {

using flutter::EncodableMap;
using flutter::EncodableValue;

void RecordingResult::SuccessInternal(const EncodableValue* result) {
  ++answer_->count;
  answer_->kind = Answer::Kind::kSuccess;
  if (result != nullptr) answer_->value = *result;
}

void RecordingResult::ErrorInternal(const std::string& code, const std::string& message,
                                    const EncodableValue* details) {
  ++answer_->count;
  answer_->kind = Answer::Kind::kError;
  answer_->code = code;
  answer_->message = message;
  answer_->has_details = details != nullptr;
}

void RecordingResult::NotImplementedInternal() {
  ++answer_->count;
  answer_->kind = Answer::Kind::kNotImplemented;
}

Answer Call(VpnManager& manager, const std::string& method,
            std::unique_ptr<EncodableValue> arguments) {
  auto answer = std::make_shared<Answer>();
  flutter::MethodCall<EncodableValue> call(method, std::move(arguments));
  manager.HandleMethodCall(call, std::make_unique<RecordingResult>(answer));
  return *answer;
}

Answer StartVpn(VpnManager& manager, const std::string& config_path) {
  return Call(manager, "start_vpn",
              std::make_unique<EncodableValue>(
                  EncodableMap{{EncodableValue("config_path"), EncodableValue(config_path)}}));
}

}  // namespace vpn_test
