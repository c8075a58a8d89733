// Discovery and WinTun loading on real files, from folders whose names the
// ANSI code page cannot hold, through the platform's OS interface (under Wine
// the wide Win32 calls).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/utf8_path.h"
#include "channel/encodable_value.h"
#include "tests/support/build_layout.h"
#include "tests/support/relocated_os.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn/transcript.h"
#include "vpn/vpn_manager.h"

namespace vpn_test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableValue;
using Strings = std::vector<std::string>;
using velqa::base::Utf8FromPath;

#ifdef _WIN32
constexpr vpn_os::OsErrorCode kBadImageFormat = 193;  // ERROR_BAD_EXE_FORMAT
#else
constexpr vpn_os::OsErrorCode kBadImageFormat = 8;  // ENOEXEC
#endif

bool Contains(const Strings& lines, const std::string& line) {
  for (const std::string& each : lines) {
    if (each == line) return true;
  }
  return false;
}

class RealFilesTest : public testing::Test {
 protected:
  ScratchDir bundle_{"Velqa 电商助手 测试"};
  fs::path Executable() const { return bundle_.path() / "velqa_assistant.exe"; }
  std::string Text(const std::string& relative) const {
    return Utf8FromPath(bundle_.path() / fs::path(relative).make_preferred());
  }
  void PlaceWinTun(const fs::path& source, const std::string& name = "wintun_x64.dll") {
    fs::create_directories(bundle_.path() / "wintun");
    fs::copy_file(source, bundle_.path() / "wintun" / name);
  }
};

TEST_F(RealFilesTest, SingBoxFoundUnderAChineseFolderAlsoWhenItIsADirectory) {
  // ARM64 machine, only the amd64 entry present, and that as a directory.
  fs::create_directories(bundle_.path() / "data" / "sing-box-amd64.exe");
  RelocatedOs os(Executable(), vpn_os::kArchitectureArm64);
  VpnManager manager(os);
  std::string found;
  const Strings transcript = Transcript([&] { found = manager.GetSingBoxExecutablePath(); });
  EXPECT_EQ(found, Text("data/sing-box-amd64.exe"));
  EXPECT_EQ(transcript,
            (Strings{"C: VpnManager: Looking for sing-box at: " + Text("data/sing-box-arm64.exe"),
                     "C: VpnManager: Found sing-box executable (fallback): " +
                         Text("data/sing-box-amd64.exe")}));
}

TEST_F(RealFilesTest, WinTunStandInInstallsAndChecksFromAChineseFolder) {
  PlaceWinTun(ExecutableDirectory() / "wintun" / "wintun_x64.dll");
  RelocatedOs os(Executable(), vpn_os::kArchitectureAmd64);
  VpnManager manager(os);

  Answer install;
  const Strings transcript = Transcript([&] { install = Call(manager, "install_wintun_driver"); });
  ASSERT_EQ(install.kind, Answer::Kind::kSuccess) << install.code;
  EXPECT_EQ(*install.value, EncodableValue(true));
  EXPECT_TRUE(Contains(transcript, "C: VpnManager: Loading WinTun from: " +
                                       Text("wintun/wintun_x64.dll")));
  EXPECT_TRUE(VpnManagerTestPeer(manager).has_wintun());

  const Answer check = Call(manager, "check_tun_driver");
  EXPECT_EQ(*check.value, EncodableValue(true));
  EXPECT_FALSE(VpnManagerTestPeer(manager).has_wintun());
}

TEST_F(RealFilesTest, DamagedLibraryIsRefusedWithThePlatformCode) {
  fs::create_directories(bundle_.path() / "wintun");
  std::ofstream(bundle_.path() / "wintun" / "wintun_x64.dll", std::ios::binary)
      << "MZ this is not a library";
  RelocatedOs os(Executable(), vpn_os::kArchitectureAmd64);
  VpnManager manager(os);
  Answer check;
  const Strings transcript = Transcript([&] { check = Call(manager, "check_tun_driver"); });
  EXPECT_EQ(*check.value, EncodableValue(false));
  EXPECT_TRUE(Contains(transcript, "C: VpnManager: Failed to load WinTun DLL, error: " +
                                       std::to_string(kBadImageFormat)))
      << testing::PrintToString(transcript);
}

TEST_F(RealFilesTest, WrongArchitectureLibraryIsRefusedWithBadImageFormat) {
#ifndef _WIN32
  GTEST_SKIP() << "the 32-bit library is built for the Windows tests only";
#else
  const fs::path wrong = ExecutableDirectory() / "wintun_wrong_arch" / "wintun_x64.dll";
  ASSERT_TRUE(fs::exists(wrong));
  PlaceWinTun(wrong);
  RelocatedOs os(Executable(), vpn_os::kArchitectureAmd64);
  VpnManager manager(os);
  Answer install;
  const Strings transcript = Transcript([&] { install = Call(manager, "install_wintun_driver"); });
  EXPECT_EQ(install.kind, Answer::Kind::kError);
  EXPECT_EQ(install.code, "WINTUN_INSTALL_FAILED");
  EXPECT_TRUE(Contains(transcript, "C: VpnManager: Failed to load WinTun DLL, error: 193"))
      << testing::PrintToString(transcript);
  EXPECT_FALSE(VpnManagerTestPeer(manager).has_wintun());
#endif
}

// The whole chain with nothing relocated: the program itself runs from a
// Chinese folder and finds its files through its own module path.
TEST_F(RealFilesTest, ProgramInAChineseFolderFindsItsFilesThroughItsOwnPath) {
  const fs::path program = bundle_.path() / ProgramName("vpn_test_probe");
  fs::copy_file(ExecutableDirectory() / ProgramName("vpn_test_probe"), program);
  vpn_os::VpnOs& os = vpn_os::PlatformOs();
  const std::string arch_name = os.NativeArchitecture() == vpn_os::kArchitectureArm64 ? "arm64"
                                : os.NativeArchitecture() == vpn_os::kArchitectureX86 ? "x86"
                                                                                     : "x64";
  const std::string suffix = arch_name == "arm64" ? "arm64" : "amd64";
  bundle_.WriteFile(fs::path("data") / ("sing-box-" + suffix + ".exe"));
  // The library matches the probe's own architecture, which is this one's.
  const std::string wintun_arch = os.ProcessArchitecture() == vpn_os::kArchitectureArm64 ? "arm64"
                                  : os.ProcessArchitecture() == vpn_os::kArchitectureX86 ? "x86"
                                                                                         : "x64";
  PlaceWinTun(ExecutableDirectory() / "wintun" / ("wintun_" + wintun_arch + ".dll"),
              "wintun_" + wintun_arch + ".dll");

  vpn_os::PipeResult pipe = os.CreateOutputPipe();
  vpn_os::ProcessLaunch launch;
  launch.executable = program;
  launch.command_line = "\"" + Utf8FromPath(program) + "\" discover";
  launch.argv = {Utf8FromPath(program), "discover"};
  launch.output = pipe.write_end.get();
  vpn_os::ProcessResult child = os.StartProcess(launch);
  ASSERT_TRUE(child.ok()) << child.error;
  pipe.write_end.Reset();

  const std::string output = ReadToEnd(os, pipe.read_end.get());
  ASSERT_EQ(os.WaitForExit(child.info.process.get(), std::chrono::seconds(30)).outcome,
            vpn_os::WaitOutcome::kExited);
  EXPECT_EQ(os.GetExitCode(child.info.process.get()).exit_code, 0u) << output;

  Strings lines;
  std::string line;
  for (char c : output) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  const std::string sing_box = Text("data/sing-box-" + suffix + ".exe");
  const std::string wintun = Text("wintun/wintun_" + wintun_arch + ".dll");
  EXPECT_TRUE(Contains(lines, "VpnManager: Looking for sing-box at: " + sing_box)) << output;
  EXPECT_TRUE(Contains(lines, "singbox=" + sing_box)) << output;
  EXPECT_TRUE(Contains(lines, "VpnManager: Loading WinTun from: " + wintun)) << output;
  EXPECT_TRUE(Contains(lines, "install=true")) << output;
}

}  // namespace
}  // namespace vpn_test
