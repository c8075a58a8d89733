#include "tests/vpn/transcript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>

#include "logging/console_output.h"

namespace vpn_test {

std::vector<std::string> Transcript(const std::function<void()>& action) {
  // Console lines are written by a thread of their own: what came before
  // goes out before the capture starts, what the action wrote before it ends.
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  testing::internal::CaptureStdout();
  action();
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  const std::string output = testing::internal::GetCapturedStdout();
  static const std::regex kRecord(
      R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[INFO\] \[([^\]]*)\] \[I\] (.*)$)");
  std::vector<std::string> lines;
  std::istringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (std::regex_match(line, match, kRecord)) {
      if (match[1] == "VpnManager") lines.push_back("R: " + match[2].str());
    } else {
      lines.push_back("C: " + line);
    }
  }
  return lines;
}

std::vector<std::string> Records(const std::vector<std::string>& transcript) {
  std::vector<std::string> records;
  for (const std::string& line : transcript) {
    if (line.rfind("R: ", 0) == 0) records.push_back(line.substr(3));
  }
  return records;
}

}  // namespace vpn_test
