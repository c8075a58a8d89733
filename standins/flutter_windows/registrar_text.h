// How the stand-ins write a plug-in registrar handle: the engine when it gives
// one out, a plug-in when it receives one. A test matches the two.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_REGISTRAR_TEXT_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_REGISTRAR_TEXT_H_

#include <charconv>
#include <cstdint>
#include <string>

namespace velqa::standin {

// Lowercase hex of the handle's value; "0" for null.
inline std::string RegistrarText(const void* registrar) {
  char digits[2 * sizeof(std::uintptr_t)];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits),
                                                 reinterpret_cast<std::uintptr_t>(registrar), 16);
  return std::string(digits, end.ptr);
}

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_REGISTRAR_TEXT_H_
