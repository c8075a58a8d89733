// An environment variable of this process set for a test and put back after
// it; child processes started meanwhile inherit it.
//
// Threads: the test thread; the environment is process-wide.
#ifndef VELQA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_WIN_H_
#define VELQA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_WIN_H_

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

namespace velqa::test {

class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::wstring name, const std::wstring& value) : name_(std::move(name)) {
    const DWORD size = ::GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (size > 0) {
      std::wstring old(size, L'\0');
      old.resize(::GetEnvironmentVariableW(name_.c_str(), old.data(), size));
      previous_ = std::move(old);
    }
    ::SetEnvironmentVariableW(name_.c_str(), value.c_str());
  }
  ~ScopedEnvironmentVariable() {
    ::SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

}  // namespace velqa::test

#endif  // VELQA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_WIN_H_
