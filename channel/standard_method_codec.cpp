#include "channel/standard_method_codec.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "channel/byte_streams.h"
#include "channel/channel_diagnostics.h"

namespace flutter {
namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Room for a typical call or answer, so that writing it does not grow the
// buffer a byte at a time.
constexpr size_t kInitialCapacity = 128;

std::unique_ptr<std::vector<uint8_t>> NewMessageBuffer() {
  auto buffer = std::make_unique<std::vector<uint8_t>>();
  buffer->reserve(kInitialCapacity);
  return buffer;
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  // Codecs are never destroyed: channels anywhere in the process may still
  // point at them while static objects are torn down. The table is guarded on
  // every request: a first request for a serializer inserts, and plug-ins may
  // create channels on other threads.
  static auto* const codecs =
      new std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>>();
  static std::mutex* const codecs_mutex = new std::mutex();
  std::lock_guard<std::mutex> lock(*codecs_mutex);
  auto it = codecs->find(serializer);
  if (it == codecs->end()) {
    it = codecs
             ->emplace(serializer,
                       std::unique_ptr<StandardMethodCodec>(new StandardMethodCodec(serializer)))
             .first;
  }
  return *it->second;
}

StandardMethodCodec::StandardMethodCodec(const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCallInternal(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue method_name = serializer_->ReadValue(&stream);
  auto* name = std::get_if<std::string>(&method_name);
  if (name == nullptr) {
    internal::ReportInvalidMethodCall();
    return nullptr;
  }
  // The arguments are always present, null when the message ends here.
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  return std::make_unique<MethodCall<EncodableValue>>(std::move(*name), std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCallInternal(
    const MethodCall<EncodableValue>& method_call) const {
  auto encoded = NewMessageBuffer();
  ByteBufferStreamWriter stream(encoded.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &stream);
  if (method_call.arguments() != nullptr) {
    serializer_->WriteValue(*method_call.arguments(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelopeInternal(
    const EncodableValue* result) const {
  auto encoded = NewMessageBuffer();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(kSuccessEnvelope);
  if (result != nullptr) {
    serializer_->WriteValue(*result, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelopeInternal(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = NewMessageBuffer();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(error_code), &stream);
  if (error_message.empty()) {
    serializer_->WriteValue(EncodableValue(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(error_message), &stream);
  }
  if (error_details != nullptr) {
    serializer_->WriteValue(*error_details, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelopeInternal(
    const uint8_t* response, size_t response_size, MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader stream(response, response_size);
  const uint8_t envelope = stream.ReadByte();
  if (envelope == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadValue(&stream);
    if (value.IsNull()) {
      result->Success();
    } else {
      result->Success(value);
    }
    return true;
  }
  if (envelope == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadValue(&stream);
    EncodableValue message = serializer_->ReadValue(&stream);
    EncodableValue details = serializer_->ReadValue(&stream);
    // A code or message of another alternative is malformed; it is answered as
    // an error with an empty code or message rather than thrown across the
    // caller.
    const auto* code_text = std::get_if<std::string>(&code);
    const auto* message_text = std::get_if<std::string>(&message);
    const std::string empty;
    if (details.IsNull()) {
      result->Error(code_text ? *code_text : empty, message_text ? *message_text : empty);
    } else {
      result->Error(code_text ? *code_text : empty, message_text ? *message_text : empty, details);
    }
    return true;
  }
  return false;
}

}  // namespace flutter
