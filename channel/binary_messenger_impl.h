// BinaryMessenger over the embedding's messenger: keeps each channel's handler
// alive at a fixed address (the embedding is given that address), turns the
// embedding's C callback into a handler call, and gives every message a reply
// that answers at most once, from any thread, and only while the engine lives.
//
// Threads: construction, SetMessageHandler, Send, the handlers and the
// destructor run on the platform thread. A handler may install, replace or
// remove any handler, its own included, while it runs. The BinaryReply handed
// to a handler may be called and destroyed on any thread.
#ifndef VELQA_CHANNEL_BINARY_MESSENGER_IMPL_H_
#define VELQA_CHANNEL_BINARY_MESSENGER_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/embedding_api.h"

namespace flutter {

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // `messenger` is borrowed; the engine owns it. Null gives a messenger that
  // keeps handlers but reaches no engine (the engine could not be created).
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Does not unregister the callbacks: the engine must already be gone.
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply) override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // std::map nodes never move, so an entry's address stays valid for as long
  // as the entry exists, also when the handler is replaced in place; that
  // address is the embedding's user data. The handler itself is shared so that
  // a running call keeps it alive when it removes or replaces itself.
  using SharedHandler = std::shared_ptr<const BinaryMessageHandler>;
  std::map<std::string, SharedHandler> handlers_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_BINARY_MESSENGER_IMPL_H_
