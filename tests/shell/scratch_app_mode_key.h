// A registry key of the test's own under HKCU in which to set the app mode
// value (AppsUseLightTheme), one per test case and process, removed again by
// the destructor: ctest runs cases in parallel processes that share the
// registry, and the user's real setting stays untouched.
//
// Threads: the test thread.
#ifndef VELQA_TESTS_SHELL_SCRATCH_APP_MODE_KEY_H_
#define VELQA_TESTS_SHELL_SCRATCH_APP_MODE_KEY_H_

#include <windows.h>

#include <string>

#include "base/win_resources_win.h"

class ScratchAppModeKey {
 public:
  // Creates the key; valid() tells whether that worked.
  ScratchAppModeKey();
  ~ScratchAppModeKey();
  ScratchAppModeKey(const ScratchAppModeKey&) = delete;
  ScratchAppModeKey& operator=(const ScratchAppModeKey&) = delete;

  bool valid() const { return key_.is_valid(); }
  // The key's path below HKCU.
  const wchar_t* subkey() const { return subkey_.c_str(); }
  HKEY key() const { return key_.get(); }

  // Sets AppsUseLightTheme as a DWORD; true on success.
  bool SetLightTheme(DWORD value) const;
  void DeleteLightTheme() const;

 private:
  std::wstring subkey_;
  velqa::base::UniqueRegistryKey key_;
};

#endif  // VELQA_TESTS_SHELL_SCRATCH_APP_MODE_KEY_H_
