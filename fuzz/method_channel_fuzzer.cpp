// Delivers arbitrary bytes as one incoming message to a MethodChannel on a
// recording messenger. Whatever the bytes, the message gets exactly one
// answer: the handler answers decodable calls (choosing the kind of answer
// from the call), undecodable messages are answered as not implemented.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/method_channel.h"
#include "channel/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

using flutter::BinaryMessageHandler;
using flutter::BinaryReply;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;

class RecordingMessenger : public flutter::BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t, BinaryReply) override {}
  void SetMessageHandler(const std::string&, BinaryMessageHandler handler) override {
    handler_ = std::move(handler);
  }

  // Returns how many answers the message received.
  int Deliver(const uint8_t* data, size_t size) {
    int answers = 0;
    handler_(data, size, [&answers](const uint8_t* reply, size_t reply_size) {
      if (reply == nullptr && reply_size != 0) velqa_fuzz::Fail("null reply with a size");
      ++answers;
    });
    return answers;
  }

 private:
  BinaryMessageHandler handler_;
};

RecordingMessenger& Messenger() {
  static RecordingMessenger* messenger = [] {
    auto* m = new RecordingMessenger();
    static flutter::MethodChannel<> channel(m, "com.velqa.assistant/vpn_process",
                                            &flutter::StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler([](const MethodCall<>& call,
                                    std::unique_ptr<MethodResult<>> result) {
      // Answer in a way that depends on the call, and try to answer twice:
      // the second answer must be swallowed.
      const size_t choice = call.method_name().size() % 4;
      if (choice == 0) {
        result->Success(*call.arguments());
      } else if (choice == 1) {
        result->Error(call.method_name(), call.method_name(), *call.arguments());
      } else if (choice == 2) {
        result->NotImplemented();
      } else {
        result->Success();
      }
      result->Success();
    });
    return m;
  }();
  return *messenger;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velqa_fuzz::Diagnostics();
  Messenger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into a buffer of exactly `size` bytes so any over-read is caught.
  std::vector<uint8_t> message(data, data + size);
  if (Messenger().Deliver(message.empty() ? nullptr : message.data(), message.size()) != 1) {
    velqa_fuzz::Fail("a message did not get exactly one answer");
  }
  return 0;
}
