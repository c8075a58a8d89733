#include "vpn/vpn_events.h"

#include <deque>
#include <mutex>
#include <utility>

#include "channel/standard_method_codec.h"
#include "channel/stream_handler.h"

namespace velqa::vpn {

using flutter::EncodableMap;
using flutter::EncodableValue;

// Shared by this object and the listener that the messenger keeps, so that
// neither outlives what it uses.
struct VpnEvents::Stream {
  std::mutex mutex;
  bool listening = false;          // under mutex
  std::deque<EncodableValue> queue;  // under mutex
  // Platform thread only.
  std::unique_ptr<flutter::EventSink<EncodableValue>> sink;
};

class VpnEvents::Listener : public flutter::StreamHandler<EncodableValue> {
 public:
  explicit Listener(std::shared_ptr<Stream> stream) : stream_(std::move(stream)) {}

 protected:
  std::unique_ptr<flutter::StreamHandlerError<EncodableValue>> OnListenInternal(
      const EncodableValue*, std::unique_ptr<flutter::EventSink<EncodableValue>> events) override {
    std::lock_guard<std::mutex> lock(stream_->mutex);
    // What was queued before this listen happened before it.
    stream_->queue.clear();
    stream_->listening = true;
    stream_->sink = std::move(events);
    return nullptr;
  }

  std::unique_ptr<flutter::StreamHandlerError<EncodableValue>> OnCancelInternal(
      const EncodableValue*) override {
    std::lock_guard<std::mutex> lock(stream_->mutex);
    stream_->queue.clear();
    stream_->listening = false;
    stream_->sink.reset();
    return nullptr;
  }

 private:
  std::shared_ptr<Stream> stream_;
};

VpnEvents::VpnEvents() : stream_(std::make_shared<Stream>()) {}

// The listener stays with the messenger; it holds the stream, not this.
VpnEvents::~VpnEvents() = default;

void VpnEvents::Register(flutter::BinaryMessenger* messenger, Wake wake) {
  wake_ = std::move(wake);
  channel_ = std::make_unique<flutter::EventChannel<EncodableValue>>(
      messenger, kChannelName, &flutter::StandardMethodCodec::GetInstance());
  channel_->SetStreamHandler(std::make_unique<Listener>(stream_));
}

bool VpnEvents::Enqueue(EncodableValue event, bool ahead) {
  std::lock_guard<std::mutex> lock(stream_->mutex);
  if (!stream_->listening) return false;
  if (ahead) {
    stream_->queue.push_front(std::move(event));
  } else {
    stream_->queue.push_back(std::move(event));
  }
  return true;
}

void VpnEvents::Post(EncodableValue event) {
  if (Enqueue(std::move(event), false) && wake_) wake_();
}

void VpnEvents::Deliver() {
  for (;;) {
    EncodableValue event;
    {
      std::lock_guard<std::mutex> lock(stream_->mutex);
      if (stream_->queue.empty() || !stream_->sink) return;
      event = std::move(stream_->queue.front());
      stream_->queue.pop_front();
    }
    // Sent outside the lock: the messenger may be slow, and the monitor
    // must not wait for it.
    stream_->sink->Success(event);
  }
}

void VpnEvents::Send(EncodableValue event) {
  if (Enqueue(std::move(event), false)) Deliver();
}

void VpnEvents::SendAhead(EncodableValue event) {
  if (Enqueue(std::move(event), true)) Deliver();
}

namespace {

// As the Dart side encodes an int: 32 bits when it fits. Windows exit codes
// such as 0xC0000005 stay positive.
EncodableValue IntValue(std::uint32_t value) {
  if (value <= 0x7FFFFFFFu) return EncodableValue(static_cast<int32_t>(value));
  return EncodableValue(static_cast<int64_t>(value));
}

}  // namespace

EncodableValue VpnEvents::Started(std::uint32_t pid) {
  return EncodableValue(EncodableMap{{EncodableValue("event"), EncodableValue("started")},
                                     {EncodableValue("pid"), IntValue(pid)}});
}

EncodableValue VpnEvents::Exited(std::uint32_t exit_code, std::string output) {
  return EncodableValue(
      EncodableMap{{EncodableValue("event"), EncodableValue("exited")},
                   {EncodableValue("exit_code"), IntValue(exit_code)},
                   {EncodableValue("output"), EncodableValue(std::move(output))}});
}

EncodableValue VpnEvents::Stopped() {
  return EncodableValue(EncodableMap{{EncodableValue("event"), EncodableValue("stopped")}});
}

}  // namespace velqa::vpn
