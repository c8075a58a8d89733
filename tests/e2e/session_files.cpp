#include "tests/e2e/session_files.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace velqa::e2e {
namespace {

// Reads the standard codec's values that replies of the VPN channel hold.
class ValueReader {
 public:
  explicit ValueReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  bool AtEnd() const { return position_ == bytes_.size(); }

  std::optional<uint8_t> Byte() {
    if (position_ >= bytes_.size()) return std::nullopt;
    return bytes_[position_++];
  }

  // "null", "true", "false" or the text of a string; nothing for other types.
  std::optional<std::string> Value(bool* is_null = nullptr) {
    const std::optional<uint8_t> type = Byte();
    if (!type) return std::nullopt;
    if (is_null) *is_null = *type == 0;
    switch (*type) {
      case 0:
        return "null";
      case 1:
        return "true";
      case 2:
        return "false";
      case 7:
        return String();
      default:
        return std::nullopt;
    }
  }

 private:
  std::optional<std::string> String() {
    std::optional<uint8_t> first = Byte();
    if (!first) return std::nullopt;
    size_t size = *first;
    if (*first == 254 || *first == 255) {
      const size_t width = *first == 254 ? 2 : 4;
      size = 0;
      for (size_t i = 0; i < width; ++i) {
        std::optional<uint8_t> b = Byte();
        if (!b) return std::nullopt;
        size |= static_cast<size_t>(*b) << (8 * i);
      }
    }
    if (bytes_.size() - position_ < size) return std::nullopt;
    std::string text(bytes_.begin() + position_, bytes_.begin() + position_ + size);
    position_ += size;
    return text;
  }

  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

std::optional<std::vector<uint8_t>> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

Reply DecodeReplyHex(const std::string& hex) {
  Reply reply;
  if (hex.empty()) {
    reply.kind = Reply::Kind::kNotImplemented;
    return reply;
  }
  std::optional<std::vector<uint8_t>> bytes = FromHex(hex);
  if (!bytes) return reply;
  ValueReader reader(std::move(*bytes));
  const std::optional<uint8_t> envelope = reader.Byte();
  if (envelope == 0) {
    std::optional<std::string> value = reader.Value();
    if (value && reader.AtEnd()) {
      reply.kind = Reply::Kind::kSuccess;
      reply.value = *value;
    }
  } else if (envelope == 1) {
    std::optional<std::string> code = reader.Value();
    std::optional<std::string> message = reader.Value();
    bool details_null = false;
    std::optional<std::string> details = reader.Value(&details_null);
    if (code && message && details && reader.AtEnd()) {
      reply.kind = Reply::Kind::kError;
      reply.code = *code;
      reply.message = *message;
      reply.has_details = !details_null;
    }
  }
  return reply;
}

std::vector<ReplyLine> ReadReplies(const std::filesystem::path& path) {
  std::vector<ReplyLine> replies;
  for (const std::string& line : SplitLines(ReadFileBytes(path))) {
    const size_t first_tab = line.find('\t');
    if (first_tab == std::string::npos) continue;
    const size_t second_tab = line.find('\t', first_tab + 1);
    ReplyLine reply;
    reply.method = line.substr(0, first_tab);
    reply.hex =
        line.substr(first_tab + 1, second_tab == std::string::npos ? std::string::npos
                                                                   : second_tab - first_tab - 1);
    reply.reply = DecodeReplyHex(reply.hex);
    replies.push_back(reply);
  }
  return replies;
}

TempDirectory::TempDirectory(const std::wstring& prefix) {
  static int counter = 0;
  path_ = std::filesystem::temp_directory_path() /
          (prefix + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++counter) +
           L"_" + std::to_wstring(::GetTickCount64()));
  std::filesystem::create_directories(path_);
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

LogWatch::LogWatch(const std::filesystem::path& bundle) : logs_(bundle / L"logs") {
  file_at_start_ = File();
  std::error_code ignored;
  if (!file_at_start_.empty()) size_at_start_ = std::filesystem::file_size(file_at_start_, ignored);
}

std::filesystem::path LogWatch::File() const {
  std::filesystem::path newest;
  std::filesystem::file_time_type newest_time{};
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(logs_, error)) {
    if (entry.path().extension() != L".log") continue;
    if (newest.empty() || entry.last_write_time() > newest_time) {
      newest = entry.path();
      newest_time = entry.last_write_time();
    }
  }
  return newest;
}

std::vector<std::string> LogWatch::NewRecords() const {
  const std::filesystem::path file = File();
  if (file.empty()) return {};
  std::string text = ReadFileBytes(file);
  if (file == file_at_start_ && size_at_start_ <= text.size()) text.erase(0, size_at_start_);
  return SplitLines(text);
}

}  // namespace velqa::e2e
