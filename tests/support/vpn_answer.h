// Calling the VPN manager as the method channel does and keeping what the
// handler answered, counted so that a second answer shows.
//
// Threads: Call runs the handler on the calling thread; an Answer is read
// after Call returns.
#ifndef VELQA_TESTS_SUPPORT_VPN_ANSWER_H_
#define VELQA_TESTS_SUPPORT_VPN_ANSWER_H_

#include <memory>
#include <optional>
#include <string>

#include "channel/encodable_value.h"
#include "channel/method_result.h"
#include "vpn/vpn_manager.h"

namespace vpn_test {

struct Answer {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int count = 0;
  std::optional<flutter::EncodableValue> value;  // Success value, if any
  std::string code;
  std::string message;
  bool has_details = false;
};

// Fills an Answer shared with the caller, so that an answer given after the
// handler returned still lands somewhere valid.
class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordingResult(std::shared_ptr<Answer> answer) : answer_(std::move(answer)) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override;
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override;
  void NotImplementedInternal() override;

 private:
  std::shared_ptr<Answer> answer_;
};

// Sends one method call through HandleMethodCall and returns its answer.
Answer Call(VpnManager& manager, const std::string& method,
            std::unique_ptr<flutter::EncodableValue> arguments = nullptr);
// start_vpn with {"config_path": config_path}.
Answer StartVpn(VpnManager& manager, const std::string& config_path);

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_VPN_ANSWER_H_
