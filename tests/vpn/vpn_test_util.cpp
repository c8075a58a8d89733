#include "tests/vpn/vpn_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

#include "base/utf8_path.h"

namespace vpn_test {

void RecordingResult::SuccessInternal(const flutter::EncodableValue* result) {
  ++answer_->count;
  answer_->kind = Answer::Kind::kSuccess;
  if (result != nullptr) answer_->value = *result;
}

void RecordingResult::ErrorInternal(const std::string& code, const std::string& message,
                                    const flutter::EncodableValue* details) {
  ++answer_->count;
  answer_->kind = Answer::Kind::kError;
  answer_->code = code;
  answer_->message = message;
  answer_->has_details = details != nullptr;
}

void RecordingResult::NotImplementedInternal() {
  ++answer_->count;
  answer_->kind = Answer::Kind::kNotImplemented;
}

Answer Call(VpnManager& manager, const std::string& method,
            std::unique_ptr<flutter::EncodableValue> arguments) {
  auto answer = std::make_shared<Answer>();
  flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  manager.HandleMethodCall(call, std::make_unique<RecordingResult>(answer));
  return *answer;
}

std::vector<std::string> Transcript(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
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

ScratchDir::ScratchDir(const std::string& utf8_name) {
  static std::atomic<int> counter{0};
  const std::string unique =
      utf8_name + " " +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) +
      "-" + std::to_string(counter++);
  path_ = std::filesystem::temp_directory_path() / velqa::base::PathFromUtf8(unique);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::WriteFile(const std::filesystem::path& relative,
                                            const std::string& content) const {
  const std::filesystem::path file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  return file;
}

std::filesystem::path BinDirectory() {
  const vpn_os::PathResult executable = vpn_os::PlatformOs().ExecutablePath();
  return executable.ok ? executable.path.parent_path() : std::filesystem::current_path();
}

std::string ProgramName(const std::string& name) {
#ifdef _WIN32
  return name + ".exe";
#else
  return name;
#endif
}

}  // namespace vpn_test
