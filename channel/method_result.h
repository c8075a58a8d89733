// The one-shot answer to a method call: exactly one of Success, Error or
// NotImplemented, once.
//
// Thread safety: a result may be answered on any thread, but not from two
// threads at the same time. It has one owner at a time; moving the owning
// pointer hands it on.
#ifndef VELQA_CHANNEL_METHOD_RESULT_H_
#define VELQA_CHANNEL_METHOD_RESULT_H_

#include <string>

#include "channel/encodable_value.h"

namespace flutter {

template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success() { SuccessInternal(nullptr); }
  void Success(const T& result) { SuccessInternal(&result); }

  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }
  void Error(const std::string& error_code, const std::string& error_message,
             const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }

  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // `result` is null for a success without a value.
  virtual void SuccessInternal(const T* result) = 0;
  // `error_details` is null when there are none.
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const T* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_METHOD_RESULT_H_
