// What runs behind an event channel: OnListen when the Dart side starts
// listening (it gets the sink to send events through), OnCancel when it stops.
//
// Threads: both are called on the platform thread.
#ifndef VELQA_CHANNEL_STREAM_HANDLER_H_
#define VELQA_CHANNEL_STREAM_HANDLER_H_

#include <memory>
#include <string>
#include <utility>

#include "channel/encodable_value.h"
#include "channel/event_sink.h"

namespace flutter {

// A refused listen or cancel: the Dart side's call gets this error.
template <typename T = EncodableValue>
struct StreamHandlerError {
  std::string error_code;
  std::string error_message;
  std::unique_ptr<T> error_details;  // may be empty
};

template <typename T = EncodableValue>
class StreamHandler {
 public:
  StreamHandler() = default;
  virtual ~StreamHandler() = default;

  StreamHandler(const StreamHandler&) = delete;
  StreamHandler& operator=(const StreamHandler&) = delete;

  // `arguments` is the listen call's argument (null when it has none); null
  // means the stream started.
  std::unique_ptr<StreamHandlerError<T>> OnListen(const T* arguments,
                                                  std::unique_ptr<EventSink<T>> events) {
    return OnListenInternal(arguments, std::move(events));
  }
  // The sink handed to OnListen sends nothing any more once this is called.
  std::unique_ptr<StreamHandlerError<T>> OnCancel(const T* arguments) {
    return OnCancelInternal(arguments);
  }

 protected:
  virtual std::unique_ptr<StreamHandlerError<T>> OnListenInternal(
      const T* arguments, std::unique_ptr<EventSink<T>> events) = 0;
  virtual std::unique_ptr<StreamHandlerError<T>> OnCancelInternal(const T* arguments) = 0;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_STREAM_HANDLER_H_
