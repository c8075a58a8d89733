// Where the build puts what the VPN tests run: the stand-ins (wintun/,
// data/) and the probe programs sit beside the test executable.
#ifndef VELQA_TESTS_SUPPORT_BUILD_LAYOUT_H_
#define VELQA_TESTS_SUPPORT_BUILD_LAYOUT_H_

#include <filesystem>
#include <string>

namespace vpn_test {

// The folder of the running executable (the working folder if the system
// cannot say).
std::filesystem::path ExecutableDirectory();
// File name of a program of this build ("name" + ".exe" on Windows).
std::string ProgramName(const std::string& name);

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_BUILD_LAYOUT_H_
