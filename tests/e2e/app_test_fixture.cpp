#include "tests/e2e/app_test_fixture.h"

#include <algorithm>

namespace velqa::e2e {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

int FindLine(const std::vector<std::string>& lines, const std::string& text, int from) {
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
    if (lines[i].find(text) != std::string::npos) return i;
  }
  return -1;
}

}  // namespace velqa::e2e
