// Finding sing-box and WinTun beside the executable, for every architecture
// the machine may report, through the scripted OS.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/utf8_path.h"
#include "tests/support/fake_vpn_os.h"
#include "tests/vpn/transcript.h"
#include "vpn/vpn_manager.h"

namespace vpn_test {
namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

const fs::path kExecutable = "/opt/velqa/velqa_assistant.exe";

std::string Beside(const std::string& relative) {
  return velqa::base::Utf8FromPath(kExecutable.parent_path() / fs::path(relative).make_preferred());
}

class DiscoveryTest : public testing::Test {
 protected:
  DiscoveryTest() { os_.SetExecutablePath(kExecutable); }
  void Add(const std::string& relative) { os_.AddPath(kExecutable.parent_path() / relative); }

  FakeVpnOs os_;
  VpnManager manager_{os_};
};

TEST_F(DiscoveryTest, ArchitectureNamesFollowTheNativeCode) {
  const std::vector<std::pair<std::uint16_t, std::string>> table = {
      {0, "x86"}, {9, "x64"}, {12, "arm64"}, {5, "x64"}, {6, "x64"}, {0xFFFF, "x64"}};
  for (const auto& [code, name] : table) {
    os_.SetArchitecture(code);
    EXPECT_EQ(manager_.GetSystemArchitecture(), name) << code;
  }
}

struct SingBoxCase {
  std::uint16_t architecture;
  std::vector<std::string> present;
  std::string expected;       // relative, "" for none
  Strings expected_transcript;
};

TEST_F(DiscoveryTest, SingBoxFirstChoiceThenTheOneFallback) {
  const std::string amd64 = "data/sing-box-amd64.exe";
  const std::string arm64 = "data/sing-box-arm64.exe";
  const std::vector<SingBoxCase> cases = {
      {9, {amd64, arm64}, amd64,
       {"C: VpnManager: Looking for sing-box at: " + Beside(amd64),
        "R: Found sing-box executable"}},
      {9, {arm64}, arm64,
       {"C: VpnManager: Looking for sing-box at: " + Beside(amd64),
        "C: VpnManager: Found sing-box executable (fallback): " + Beside(arm64)}},
      {12, {amd64, arm64}, arm64,
       {"C: VpnManager: Looking for sing-box at: " + Beside(arm64),
        "R: Found sing-box executable"}},
      {12, {amd64}, amd64,
       {"C: VpnManager: Looking for sing-box at: " + Beside(arm64),
        "C: VpnManager: Found sing-box executable (fallback): " + Beside(amd64)}},
      {0, {arm64}, arm64,
       {"C: VpnManager: Looking for sing-box at: " + Beside(amd64),
        "C: VpnManager: Found sing-box executable (fallback): " + Beside(arm64)}},
      {0xFFFF, {}, "",
       {"C: VpnManager: Looking for sing-box at: " + Beside(amd64),
        "R: sing-box not found"}},
      {12, {"data/sing-box.exe", "sing-box-arm64.exe"}, "",
       {"C: VpnManager: Looking for sing-box at: " + Beside(arm64),
        "R: sing-box not found"}},
  };
  for (const SingBoxCase& test : cases) {
    FakeVpnOs os;
    os.SetExecutablePath(kExecutable);
    os.SetArchitecture(test.architecture);
    for (const std::string& file : test.present) os.AddPath(kExecutable.parent_path() / file);
    VpnManager manager(os);
    std::string found;
    const Strings transcript = Transcript([&] { found = manager.GetSingBoxExecutablePath(); });
    EXPECT_EQ(found, test.expected.empty() ? "" : Beside(test.expected))
        << "architecture " << test.architecture;
    EXPECT_EQ(transcript, test.expected_transcript) << "architecture " << test.architecture;
  }
}

TEST_F(DiscoveryTest, SingBoxWithoutTheExecutablePathIsEmptyAfterOneRecord) {
  os_.FailNext(Op::kExecutablePath, 122);
  std::string found = "unchanged";
  const Strings transcript = Transcript([&] { found = manager_.GetSingBoxExecutablePath(); });
  EXPECT_EQ(found, "");
  EXPECT_EQ(transcript, (Strings{"R: Failed to get module filename"}));
}

TEST_F(DiscoveryTest, SingBoxExistenceTestFailureIsCaughtAndReported) {
  os_.SetPathError(kExecutable.parent_path() / "data/sing-box-amd64.exe", 21);  // not ready
  Add("data/sing-box-arm64.exe");
  std::string found = "unchanged";
  const Strings transcript = Transcript([&] { found = manager_.GetSingBoxExecutablePath(); });
  EXPECT_EQ(found, "");
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[1].rfind("C: VpnManager: Exception in GetSingBoxExecutablePath: ", 0), 0u)
      << transcript[1];
  EXPECT_NE(transcript[1].find("sing-box-amd64.exe"), std::string::npos) << transcript[1];
}

// The library is loaded into the host, so the host process's architecture
// decides, not the machine's: an x64 host on an ARM64 machine needs the x64
// library (it cannot load wintun_arm64.dll).
TEST_F(DiscoveryTest, WinTunPathIsExactlyTheLibraryOfTheHostProcesssArchitecture) {
  Add("wintun/wintun_x64.dll");
  Add("wintun/wintun_arm64.dll");
  Add("wintun/wintun.dll");
  const std::vector<std::pair<std::uint16_t, std::string>> expected = {
      {9, "wintun/wintun_x64.dll"},
      {12, "wintun/wintun_arm64.dll"},
      {0, ""},
      {0xFFFF, "wintun/wintun_x64.dll"}};
  for (const std::uint16_t machine : {vpn_os::kArchitectureArm64, vpn_os::kArchitectureAmd64}) {
    os_.SetArchitecture(machine);
    for (const auto& [architecture, relative] : expected) {
      os_.SetProcessArchitecture(architecture);
      std::string found;
      const Strings transcript = Transcript([&] { found = manager_.GetWinTunDllPath(); });
      const std::string name = architecture == 12  ? "wintun/wintun_arm64.dll"
                               : architecture == 0 ? "wintun/wintun_x86.dll"
                                                   : "wintun/wintun_x64.dll";
      EXPECT_EQ(found, relative.empty() ? "" : Beside(relative)) << machine << " " << architecture;
      Strings expected_transcript = {"C: VpnManager: Expected WinTun path: " + Beside(name)};
      if (relative.empty()) {
        expected_transcript.push_back("R: WinTun DLL not found at expected path");
      }
      EXPECT_EQ(transcript, expected_transcript) << machine << " " << architecture;
    }
  }
  // sing-box runs as a process of its own and keeps the machine's choice.
  Add("data/sing-box-amd64.exe");
  Add("data/sing-box-arm64.exe");
  os_.SetArchitecture(vpn_os::kArchitectureArm64);
  os_.SetProcessArchitecture(vpn_os::kArchitectureAmd64);
  EXPECT_EQ(Transcript([&] { (void)manager_.GetSingBoxExecutablePath(); }).front(),
            "C: VpnManager: Looking for sing-box at: " + Beside("data/sing-box-arm64.exe"));
}

TEST_F(DiscoveryTest, WinTunWithoutTheExecutablePathIsEmptyAfterOneRecord) {
  os_.FailNext(Op::kExecutablePath, 122);
  std::string found = "unchanged";
  const Strings transcript = Transcript([&] { found = manager_.GetWinTunDllPath(); });
  EXPECT_EQ(found, "");
  EXPECT_EQ(transcript, (Strings{"R: Failed to get application path"}));
}

TEST_F(DiscoveryTest, WinTunExistenceTestFailureReachesTheCaller) {
  os_.SetPathError(kExecutable.parent_path() / "wintun/wintun_x64.dll", 5);
  EXPECT_THROW(manager_.GetWinTunDllPath(), std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace vpn_test
