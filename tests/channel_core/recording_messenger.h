// A BinaryMessenger that keeps the installed handlers and lets a test deliver
// messages to them, recording every reply.
#ifndef VELQA_TESTS_CHANNEL_CORE_RECORDING_MESSENGER_H_
#define VELQA_TESTS_CHANNEL_CORE_RECORDING_MESSENGER_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channel/binary_messenger.h"

namespace velqa_test {

class RecordingMessenger : public flutter::BinaryMessenger {
 public:
  struct Reply {
    bool null_data = false;  // the data pointer was null
    std::vector<uint8_t> bytes;
  };

  // A message the native side sent, and the thread it was sent on.
  struct Sent {
    std::string channel;
    bool null_data = false;
    std::vector<uint8_t> bytes;
    std::thread::id thread;
  };

  void Send(const std::string& channel, const uint8_t* message, size_t size,
            flutter::BinaryReply) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(Sent{channel, message == nullptr,
                         std::vector<uint8_t>(message, message + (message ? size : 0)),
                         std::this_thread::get_id()});
  }

  std::vector<Sent> sent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override {
    ++set_handler_calls_;
    if (handler) {
      handlers_[channel] = std::move(handler);
    } else {
      handlers_.erase(channel);
    }
  }

  bool HasHandler(const std::string& channel) const { return handlers_.count(channel) != 0; }
  int set_handler_calls() const { return set_handler_calls_; }

  // Delivers a message; returns the index its reply will have in replies().
  void Deliver(const std::string& channel, const std::vector<uint8_t>& message) {
    handlers_.at(channel)(message.empty() ? nullptr : message.data(), message.size(),
                          [this](const uint8_t* data, size_t size) {
                            std::lock_guard<std::mutex> lock(mutex_);
                            replies_.push_back(
                                Reply{data == nullptr, std::vector<uint8_t>(data, data + size)});
                          });
  }

  std::vector<Reply> replies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_;
  }

 private:
  std::map<std::string, flutter::BinaryMessageHandler> handlers_;
  int set_handler_calls_ = 0;
  mutable std::mutex mutex_;
  std::vector<Reply> replies_;
  std::vector<Sent> sent_;
};

}  // namespace velqa_test

#endif  // VELQA_TESTS_CHANNEL_CORE_RECORDING_MESSENGER_H_
