#include "tests/support/build_layout.h"

#include "vpn/os/vpn_os.h"

namespace vpn_test {

std::filesystem::path ExecutableDirectory() {
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
