// The native end of one listened-to event stream: each event goes to the Dart
// side as a success envelope, an error as an error envelope, and the end of
// the stream as an empty message.
//
// Threads: platform thread only (the embedding takes messages for the Dart
// side only there); a worker hands its events over to that thread first.
#ifndef VELQA_CHANNEL_EVENT_SINK_H_
#define VELQA_CHANNEL_EVENT_SINK_H_

#include <string>

#include "channel/encodable_value.h"

namespace flutter {

template <typename T = EncodableValue>
class EventSink {
 public:
  EventSink() = default;
  virtual ~EventSink() = default;

  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  void Success(const T& event) { SuccessInternal(&event); }
  void Success() { SuccessInternal(nullptr); }

  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }
  void Error(const std::string& error_code, const std::string& error_message,
             const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }

  void EndOfStream() { EndOfStreamInternal(); }

 protected:
  // `event` is null for an event without a value.
  virtual void SuccessInternal(const T* event) = 0;
  // `error_details` is null when there are none.
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const T* error_details) = 0;
  virtual void EndOfStreamInternal() = 0;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_EVENT_SINK_H_
