// The stray-process scan reads /proc entries that may vanish under it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/utf8_path.h"
#include "tests/support/scratch_dir.h"
#include "vpn/os/process_list_posix.h"

namespace {

TEST(ProcessListPosixTest, UnreadableStatIsNoZombieAndThrowsNothing) {
  vpn_test::ScratchDir scratch{"proc entry"};
  const std::string entry = velqa::base::Utf8FromPath(scratch.path());
  scratch.Write("stat", "42 (sing box) Z 1 42");
  EXPECT_TRUE(vpn_os::IsZombie(entry));
  // A read that fails after the open (as for a process reaped in between)
  // stands for "no longer there", not an error out of the scan.
  std::filesystem::remove(scratch.path() / "stat");
  std::filesystem::create_directory(scratch.path() / "stat");
  bool zombie = true;
  EXPECT_NO_THROW(zombie = vpn_os::IsZombie(entry));
  EXPECT_FALSE(zombie);
}

}  // namespace
