#include "installer/stop_running/process_paths.h"

#include "base/win_resources_win.h"

namespace velqa::installer {
namespace {

bool EqualIgnoringCase(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length) {
  return ::CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length),
                                TRUE) == CSTR_EQUAL;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return EqualIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

// Calls `fill(buffer, capacity)`, which returns the length written or the
// capacity needed, growing the buffer until the result fits.
template <typename Fill>
std::wstring GrowingCall(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length + 1);
  }
  return {};
}

}  // namespace

std::wstring NormalizePath(const std::wstring& path) {
  if (path.empty()) return {};
  std::wstring full = GrowingCall([&](wchar_t* buffer, DWORD capacity) {
    return ::GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
  if (full.empty()) return {};
  // Short (8.3) names only where the path exists; a directory about to be
  // created keeps the form it was given in.
  std::wstring long_form = GrowingCall([&](wchar_t* buffer, DWORD capacity) {
    return ::GetLongPathNameW(full.c_str(), buffer, capacity);
  });
  if (!long_form.empty()) full = std::move(long_form);
  // "C:\" keeps its separator: without it the name means the drive's current
  // directory.
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

bool IsInsideDirectory(const std::wstring& path, const std::wstring& directory) {
  if (path.empty() || directory.empty()) return false;
  const bool root = directory.back() == L'\\';
  const size_t prefix = directory.size();
  if (path.size() <= prefix + (root ? 0 : 1)) return false;
  if (!root && path[prefix] != L'\\') return false;
  return EqualIgnoringCase(path.data(), prefix, directory.data(), prefix);
}

std::wstring FileName(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool IsSingBoxImage(const std::wstring& file_name) {
  static const std::wstring kPrefix = L"sing-box-";
  static const std::wstring kSuffix = L".exe";
  if (file_name.size() <= kPrefix.size() + kSuffix.size()) return false;
  return EqualIgnoringCase(file_name.substr(0, kPrefix.size()), kPrefix) &&
         EqualIgnoringCase(file_name.substr(file_name.size() - kSuffix.size()), kSuffix);
}

bool IsApplicationImage(const std::wstring& file_name) {
  // The crash watcher ends with its copy, a moment after it; until then its
  // executable cannot be replaced.
  return EqualIgnoringCase(file_name, L"velqa_assistant.exe") ||
         EqualIgnoringCase(file_name, L"velqa_crash_watcher.exe");
}

std::optional<std::wstring> ProcessImagePath(DWORD pid) {
  base::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.is_valid()) return std::nullopt;
  std::wstring image = GrowingCall([&](wchar_t* buffer, DWORD capacity) -> DWORD {
    DWORD size = capacity;
    if (::QueryFullProcessImageNameW(process.get(), 0, buffer, &size)) return size;
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? capacity * 2 : 0;
  });
  if (image.empty()) return std::nullopt;
  return NormalizePath(image);
}

}  // namespace velqa::installer
