// The WinTun probe and install: the exact records and console lines, the
// answers, and whether the library stays loaded, through the scripted OS.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/utf8_path.h"
#include "channel/encodable_value.h"
#include "tests/support/fake_vpn_os.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn/transcript.h"
#include "vpn/vpn_manager.h"

namespace vpn_test {
namespace {

using flutter::EncodableValue;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

const fs::path kExecutable = "/opt/velqa/velqa_assistant.exe";
const fs::path kLibrary = kExecutable.parent_path() / "wintun" / "wintun_x64.dll";
const std::string kLibraryText = velqa::base::Utf8FromPath(kLibrary);
const std::string kPathLine = "C: VpnManager: Expected WinTun path: " + kLibraryText;
const std::string kLoadingLine = "C: VpnManager: Loading WinTun from: " + kLibraryText;

class WinTunTest : public testing::Test {
 protected:
  WinTunTest() {
    os_.SetExecutablePath(kExecutable);
    os_.AddPath(kLibrary);
  }

  Strings Run(const std::string& method, Answer* answer = nullptr) {
    return Transcript([&] {
      Answer given = Call(manager_, method);
      EXPECT_EQ(given.count, 1) << method;
      if (answer != nullptr) *answer = given;
    });
  }

  FakeVpnOs os_;
  VpnManager manager_{os_};
};

// The lines every check and every install begins with.
const Strings kCheckOpening = {
    "R: HandleCheckTunDriverMethod called",
    "R: Checking TUN driver availability...",
    "R: Checking WinTun driver availability...",
    "R: Loading WinTun library...",
};
const Strings kInstallOpening = {
    "R: HandleInstallWinTunDriverMethod called",
    "R: Installing WinTun driver...",
    "R: Loading WinTun library...",
};

Strings Joined(const Strings& opening, const Strings& rest) {
  Strings lines = opening;
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

const Strings kFirstInstall =
    Joined(kInstallOpening, {
                                kPathLine,
                                kLoadingLine,
                                "R: WinTun library loaded successfully",
                                "R: WinTun driver installed and loaded successfully",
                            });

const Strings kSecondInstall =
    Joined(kInstallOpening, {
                                "R: WinTun library already loaded",
                                "R: WinTun driver installed and loaded successfully",
                            });

const Strings kCheckWhenNotLoaded =
    Joined(kCheckOpening, {
                              kPathLine,
                              kLoadingLine,
                              "R: WinTun library loaded successfully",
                              "R: WinTun library loaded successfully",
                              "R: Unloading WinTun library...",
                              "R: WinTun library unloaded",
                              "C: VpnManager: TUN driver available: true",
                          });

TEST_F(WinTunTest, InstallTwiceLoadsOnceAndKeepsTheLibrary) {
  Answer first;
  EXPECT_EQ(Run("install_wintun_driver", &first), kFirstInstall);
  ASSERT_EQ(first.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*first.value, EncodableValue(true));

  Answer second;
  EXPECT_EQ(Run("install_wintun_driver", &second), kSecondInstall);
  ASSERT_EQ(second.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*second.value, EncodableValue(true));

  EXPECT_EQ(os_.LoadCalls(), 1);
  EXPECT_EQ(os_.LoadedModules(), 1);
  EXPECT_TRUE(VpnManagerTestPeer(manager_).has_wintun());
}

TEST_F(WinTunTest, CheckLoadsAndReleases) {
  Answer answer;
  EXPECT_EQ(Run("check_tun_driver", &answer), kCheckWhenNotLoaded);
  EXPECT_EQ(*answer.value, EncodableValue(true));
  EXPECT_EQ(os_.LoadCalls(), 1);
  EXPECT_EQ(os_.LoadedModules(), 0);
  EXPECT_FALSE(VpnManagerTestPeer(manager_).has_wintun());
}

TEST_F(WinTunTest, CheckAfterInstallReleasesWhatTheInstallKept) {
  Run("install_wintun_driver");
  Answer answer;
  EXPECT_EQ(Run("check_tun_driver", &answer),
            Joined(kCheckOpening,
                   {"R: WinTun library already loaded", "R: WinTun library loaded successfully",
                    "R: Unloading WinTun library...", "R: WinTun library unloaded",
                    "C: VpnManager: TUN driver available: true"}));
  EXPECT_EQ(*answer.value, EncodableValue(true));
  EXPECT_EQ(os_.LoadedModules(), 0);
  EXPECT_FALSE(VpnManagerTestPeer(manager_).has_wintun());
}

TEST_F(WinTunTest, InstallAfterCheckLoadsAgainAndKeepsIt) {
  Run("check_tun_driver");
  EXPECT_EQ(Run("install_wintun_driver"), kFirstInstall);
  EXPECT_EQ(os_.LoadCalls(), 2);
  EXPECT_EQ(os_.LoadedModules(), 1);
}

TEST_F(WinTunTest, MissingLibraryAnswersFalseAndTheInstallError) {
  os_.RemovePath(kLibrary);
  Answer check;
  EXPECT_EQ(Run("check_tun_driver", &check),
            Joined(kCheckOpening, {kPathLine, "R: WinTun DLL not found at expected path",
                                   "R: WinTun DLL not found", "R: WinTun driver not available",
                                   "C: VpnManager: TUN driver available: false"}));
  ASSERT_EQ(check.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*check.value, EncodableValue(false));

  Answer install;
  EXPECT_EQ(
      Run("install_wintun_driver", &install),
      Joined(kInstallOpening, {kPathLine, "R: WinTun DLL not found at expected path",
                               "R: WinTun DLL not found", "R: Failed to install WinTun driver"}));
  ASSERT_EQ(install.kind, Answer::Kind::kError);
  EXPECT_EQ(install.code, "WINTUN_INSTALL_FAILED");
  EXPECT_EQ(install.message, "Failed to install WinTun driver");
  EXPECT_FALSE(install.has_details);
  EXPECT_EQ(os_.LoadCalls(), 0);
  EXPECT_FALSE(VpnManagerTestPeer(manager_).has_wintun());
}

TEST_F(WinTunTest, UnloadableLibraryShowsThePlatformErrorCode) {
  os_.SetLoadError(kLibrary, 193);
  Answer check;
  EXPECT_EQ(
      Run("check_tun_driver", &check),
      Joined(kCheckOpening,
             {kPathLine, kLoadingLine, "C: VpnManager: Failed to load WinTun DLL, error: 193",
              "R: WinTun driver not available", "C: VpnManager: TUN driver available: false"}));
  EXPECT_EQ(*check.value, EncodableValue(false));

  Answer install;
  const Strings transcript = Run("install_wintun_driver", &install);
  EXPECT_EQ(transcript.back(), "R: Failed to install WinTun driver");
  EXPECT_EQ(install.kind, Answer::Kind::kError);
  EXPECT_EQ(install.code, "WINTUN_INSTALL_FAILED");
  EXPECT_FALSE(VpnManagerTestPeer(manager_).has_wintun());
}

TEST_F(WinTunTest, FailedExistenceTestIsAnsweredNotThrown) {
  os_.SetPathError(kLibrary, 21);  // e.g. a device that is not ready
  Answer check;
  const Strings check_transcript = Run("check_tun_driver", &check);
  ASSERT_EQ(check.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*check.value, EncodableValue(false));
  // The failure is named in a record; no "not found" is claimed.
  const Strings records = Records(check_transcript);
  ASSERT_GE(records.size(), 6u);
  EXPECT_EQ(records[4].rfind("Failed to look for WinTun DLL: ", 0), 0u) << records[4];
  EXPECT_NE(records[4].find("wintun_x64.dll"), std::string::npos) << records[4];
  EXPECT_EQ(records[5], "WinTun driver not available");
  EXPECT_EQ(check_transcript.back(), "C: VpnManager: TUN driver available: false");

  Answer install;
  const Strings install_records = Records(Run("install_wintun_driver", &install));
  ASSERT_EQ(install.kind, Answer::Kind::kError);
  EXPECT_EQ(install.code, "WINTUN_INSTALL_FAILED");
  EXPECT_EQ(install.message, "Failed to install WinTun driver");
  EXPECT_EQ(install_records.back(), "Failed to install WinTun driver");
  EXPECT_EQ(os_.LoadCalls(), 0);
}

TEST_F(WinTunTest, DestructionReleasesAnInstalledLibrary) {
  FakeVpnOs os;
  os.SetExecutablePath(kExecutable);
  os.AddPath(kLibrary);
  auto manager = std::make_unique<VpnManager>(os);
  ASSERT_EQ(Call(*manager, "install_wintun_driver").kind, Answer::Kind::kSuccess);
  ASSERT_EQ(os.LoadedModules(), 1);
  const Strings records = Records(Transcript([&] { manager.reset(); }));
  EXPECT_EQ(records, (Strings{"Stopping log monitor...", "Log monitor stopped",
                              "Unloading WinTun library...", "WinTun library unloaded"}));
  EXPECT_EQ(os.LoadedModules(), 0);
}

}  // namespace
}  // namespace vpn_test
