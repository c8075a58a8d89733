// The event channel "com.velqa.assistant/vpn_events": tells the Dart side at
// once when sing-box has started, has ended by itself, or was stopped, instead
// of leaving it to find out at its next get_vpn_status. Events are maps:
//   {"event": "started", "pid": <int>}
//   {"event": "exited", "exit_code": <int>, "output": <string>}
//   {"event": "stopped"}
// Nothing is sent while the Dart side does not listen, and nothing that
// happened before it listened.
//
// Threads: Register, Deliver and Send on the platform thread, the only thread
// on which the embedding takes messages for the Dart side. Post on any thread
// (the output monitor): the event waits in a queue and `wake` asks the
// platform thread to call Deliver.
#ifndef VELQA_VPN_VPN_EVENTS_H_
#define VELQA_VPN_VPN_EVENTS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/encodable_value.h"
#include "channel/event_channel.h"

namespace velqa::vpn {

class VpnEvents {
 public:
  static constexpr char kChannelName[] = "com.velqa.assistant/vpn_events";
  // Makes the platform thread call Deliver soon (for example by posting a
  // window message); called on any thread, must not block.
  using Wake = std::function<void()>;

  VpnEvents();
  ~VpnEvents();
  VpnEvents(const VpnEvents&) = delete;
  VpnEvents& operator=(const VpnEvents&) = delete;

  // Creates the channel on `messenger` (borrowed; it must outlive this object
  // and its registration) with the standard method codec. A second call
  // replaces the first.
  void Register(flutter::BinaryMessenger* messenger, Wake wake);

  // Queues an event for the Dart side and wakes the platform thread; dropped
  // at once when nobody listens.
  void Post(flutter::EncodableValue event);
  // Sends the queued events in order.
  void Deliver();
  // Post and Deliver, keeping the order with events posted before.
  void Send(flutter::EncodableValue event);
  // Sends `event` ahead of the queued ones, then those.
  void SendAhead(flutter::EncodableValue event);

  static flutter::EncodableValue Started(std::uint32_t pid);
  static flutter::EncodableValue Exited(std::uint32_t exit_code, std::string output);
  static flutter::EncodableValue Stopped();

 private:
  struct Stream;
  class Listener;

  // Queues `event` (at the front when `ahead`); false, dropping it, when
  // nobody listens.
  bool Enqueue(flutter::EncodableValue event, bool ahead);

  std::shared_ptr<Stream> stream_;
  Wake wake_;
  std::unique_ptr<flutter::EventChannel<flutter::EncodableValue>> channel_;
};

}  // namespace velqa::vpn

#endif  // VELQA_VPN_VPN_EVENTS_H_
