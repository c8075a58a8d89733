// A program that installs the application's crash handler and logger, then
// crashes in its own C++ and C runtime the way its argument names:
// terminate, pure-virtual or invalid-parameter. The application's libraries
// have their own runtimes; only code in the executable reaches these paths.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "logging/native_logger.h"
#include "shell/crash_dump_win.h"

namespace {

// The call runs while the base part is being constructed, when the object's
// type is still the abstract base.
struct Abstract;
void CallPure(Abstract& object);
void (*volatile call_pure)(Abstract&) = &CallPure;
struct Abstract {
  Abstract() { call_pure(*this); }
  virtual ~Abstract() = default;
  virtual void Pure() = 0;
};
void CallPure(Abstract& object) { object.Pure(); }
struct Concrete : Abstract {
  void Pure() override {}
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  velqa::shell::InstallCrashHandler();
  NativeLogger::GetInstance().Initialize();
  const std::wstring kind = argc > 1 ? argv[1] : L"";
  if (kind == L"terminate") std::terminate();
  if (kind == L"pure-virtual") Concrete object;
  if (kind == L"invalid-parameter") {
    // What the C runtime does with a bad argument; Wine's runtime returns
    // EINVAL instead, so the report is made here the same way.
    _get_invalid_parameter_handler()(nullptr, nullptr, nullptr, 0, 0);
  }
  return 0;
}
