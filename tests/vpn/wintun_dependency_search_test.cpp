// WinTun is loaded by an elevated program: its own dependencies may come from
// its folder or System32, never from the current directory, where anybody may
// have put a library of the same name.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/build_layout.h"
#include "tests/support/scratch_dir.h"
#include "vpn/os/vpn_os.h"

namespace vpn_test {
namespace {

namespace fs = std::filesystem;

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& directory) : previous_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~CurrentDirectory() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

TEST(WintunDependencySearchTest, ADependencyPlantedInTheCurrentDirectoryIsNotLoaded) {
  const fs::path built = ExecutableDirectory() / "dll_search";
  ScratchDir scratch("velqa dll search");
  const fs::path wintun_dir = scratch.path() / "wintun";
  const fs::path planted_dir = scratch.path() / "current";
  fs::create_directories(wintun_dir);
  fs::create_directories(planted_dir);
  const fs::path wintun = wintun_dir / "wintun_x64.dll";
  fs::copy_file(built / "wintun_dependent.dll", wintun);
  fs::copy_file(built / "swdevice.dll", planted_dir / "swdevice.dll");
  vpn_os::VpnOs& os = vpn_os::PlatformOs();
  {
    CurrentDirectory in(planted_dir);
    const vpn_os::ModuleResult planted = os.LoadModule(wintun);
    EXPECT_FALSE(planted.ok()) << "loaded with the planted dependency";
    EXPECT_EQ(::GetModuleHandleW(L"swdevice.dll"), nullptr);
  }
  // Beside the library it is found.
  fs::copy_file(built / "swdevice.dll", wintun_dir / "swdevice.dll");
  const vpn_os::ModuleResult beside = os.LoadModule(wintun);
  EXPECT_TRUE(beside.ok()) << beside.error;
}

}  // namespace
}  // namespace vpn_test
