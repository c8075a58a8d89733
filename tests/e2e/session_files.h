// The files through which an end-to-end test talks to the scripted Dart side
// of the stand-in engine and reads the application's log.
#ifndef VELQA_TESTS_E2E_SESSION_FILES_H_
#define VELQA_TESTS_E2E_SESSION_FILES_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velqa::e2e {

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
std::string Utf8(const std::filesystem::path& path);
std::vector<std::string> SplitLines(const std::string& text);

// A reply of the VPN channel decoded from the standard method codec's
// envelope: success with a value, error with code and message, or not
// implemented (no bytes at all).
struct Reply {
  enum class Kind { kSuccess, kError, kNotImplemented, kUndecodable };
  Kind kind = Kind::kUndecodable;
  // kSuccess: "null", "true", "false", or the string itself.
  std::string value;
  std::string code;
  std::string message;
  bool has_details = false;
};
Reply DecodeReplyHex(const std::string& hex);

// One line of the replies file: method, reply bytes in hex, readable form.
struct ReplyLine {
  std::string method;
  std::string hex;
  Reply reply;
};
std::vector<ReplyLine> ReadReplies(const std::filesystem::path& path);

// A fresh directory under the temporary folder, removed with its contents.
class TempDirectory {
 public:
  explicit TempDirectory(const std::wstring& prefix);
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The day's log file of a bundle and what was added to it since construction.
class LogWatch {
 public:
  explicit LogWatch(const std::filesystem::path& bundle);
  // The newest log file of the bundle (empty when there is none).
  std::filesystem::path File() const;
  // Record lines written since construction.
  std::vector<std::string> NewRecords() const;

 private:
  std::filesystem::path logs_;
  std::filesystem::path file_at_start_;
  std::uintmax_t size_at_start_ = 0;
};

}  // namespace velqa::e2e

#endif  // VELQA_TESTS_E2E_SESSION_FILES_H_
