// The messenger on which channels run: raw bytes per named channel.
//
// Thread safety: SetMessageHandler and the handlers run on the platform thread
// (the window message loop's thread). A BinaryReply may be called from any
// thread, once.
#ifndef VELQA_CHANNEL_BINARY_MESSENGER_H_
#define VELQA_CHANNEL_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Receives the answer to a message: the bytes and their count (null and 0 for
// an empty answer). May be empty.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles one incoming message; the reply passes to the handler, which answers
// through it once. May be empty.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  virtual ~BinaryMessenger() = default;

  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;

  // Sends a message on `channel`; `reply`, when not empty, receives the answer.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply) = 0;

  // Installs `handler` for `channel`, replacing any earlier one; an empty
  // handler removes the channel's handler.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_BINARY_MESSENGER_H_
