#include "logging/log_file_names.h"

#include <cstddef>

namespace velqa::logging {
namespace {

// Takes `count` digits from the front of `text` (any number, at least one,
// when count is 0).
bool TakeDigits(std::string_view& text, std::size_t count) {
  std::size_t taken = 0;
  while (taken < text.size() && text[taken] >= '0' && text[taken] <= '9' &&
         (count == 0 || taken < count)) {
    ++taken;
  }
  if (taken == 0 || (count != 0 && taken != count)) return false;
  text.remove_prefix(taken);
  return true;
}

bool Take(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

bool IsOwnLogFileName(std::string_view name) {
  if (!Take(name, "velqa_") || !TakeDigits(name, 8)) return false;
  if (Take(name, "_")) {
    if (!TakeDigits(name, 6)) return false;
    if (Take(name, "_") && !TakeDigits(name, 0)) return false;
  }
  return name == ".log";
}

}  // namespace velqa::logging
