// One method call: a method name with its arguments.
#ifndef VELQA_CHANNEL_METHOD_CALL_H_
#define VELQA_CHANNEL_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "channel/encodable_value.h"

namespace flutter {

template <typename T = EncodableValue>
class MethodCall {
 public:
  // `arguments` may be empty: the call has none.
  MethodCall(std::string method_name, std::unique_ptr<T> arguments)
      : method_name_(std::move(method_name)), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }
  // Null when the call has no arguments.
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_METHOD_CALL_H_
