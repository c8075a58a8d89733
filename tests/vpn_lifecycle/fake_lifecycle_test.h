// The fixture of the sing-box lifecycle tests against the scripted fake OS:
// a manager on a FakeVpnOs that has sing-box and a configuration in place,
// the output recorder, and the checks every outcome shares.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_FAKE_LIFECYCLE_TEST_H_
#define VELQA_TESTS_VPN_LIFECYCLE_FAKE_LIFECYCLE_TEST_H_

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/utf8_path.h"
#include "logging/native_logger.h"
#include "tests/support/fake_vpn_os.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn_lifecycle/output_recorder.h"

namespace vpn_test {

inline constexpr char kTag[] = "VpnManager";
inline constexpr char kExe[] = "/velqa/data/sing-box-amd64.exe";
// The executable as discovery composes it (with the platform's separator).
inline const std::string kFoundExe =
    velqa::base::Utf8FromPath(std::filesystem::path("/velqa") / "data" / "sing-box-amd64.exe");
inline constexpr char kConfig[] = "/cfg/config.json";
// The fake's first process id.
inline constexpr std::uint32_t kFirstChild = 4000;

// Names of the calls in the journal, without the PathExists noise.
inline std::vector<std::string> Calls(const FakeVpnOs& os) {
  std::vector<std::string> out;
  for (const auto& name : os.CallNames()) {
    if (name != "PathExists") out.push_back(name);
  }
  return out;
}

class FakeLifecycleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { NativeLogger::GetInstance().Initialize(); }

  void SetUp() override {
    os_.SetExecutablePath("/velqa/velqa_assistant.exe");
    os_.AddPath(kExe);
    os_.AddPath(kConfig);
    manager_ = std::make_unique<VpnManager>(os_);
  }
  void TearDown() override {
    manager_.reset();
    recorder_.Stop();
  }

  Answer Start(const std::string& config = kConfig) { return StartVpn(*manager_, config); }
  Answer StartWith(std::unique_ptr<flutter::EncodableValue> arguments) {
    return Call(*manager_, "start_vpn", std::move(arguments));
  }
  VpnManagerTestPeer peer() { return VpnManagerTestPeer(*manager_); }

  // A started child that runs; its process id.
  std::uint32_t StartRunning(vpn_test::ChildScript script = {}) {
    os_.QueueChild(std::move(script));
    Answer reply = Start();
    EXPECT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
    // The thread's own "started" record comes when it runs.
    EXPECT_TRUE(recorder_.WaitUntil(
        [&] { return recorder_.CountRecords("Log monitor thread started", kTag) % 2 == 0; },
        std::chrono::milliseconds(2000)));
    return peer().process_id();
  }

  // Waits until exactly what a running child holds is open: job, read end,
  // process and thread (the monitor closes the write end as it starts).
  bool WaitForRunningChildHandles() {
    return recorder_.WaitUntil(
        [&] {
          return os_.OpenHandles() ==
                 std::multiset<HandleKind>{HandleKind::kJob, HandleKind::kPipeRead,
                                           HandleKind::kProcess, HandleKind::kThread};
        },
        std::chrono::milliseconds(2000));
  }

  void ExpectError(const Answer& reply, const std::string& code, const std::string& message) {
    EXPECT_EQ(reply.count, 1);
    EXPECT_EQ(reply.kind, Answer::Kind::kError);
    EXPECT_EQ(reply.code, code);
    EXPECT_EQ(reply.message, message);
    EXPECT_FALSE(reply.has_details);
  }

  // Idle, with nothing open: what every failure of start_vpn leaves.
  void ExpectIdleWithNothingOpen() {
    EXPECT_THAT(os_.OpenHandles(), ::testing::IsEmpty());
    EXPECT_FALSE(peer().is_running());
    EXPECT_FALSE(peer().has_job());
    EXPECT_FALSE(peer().has_read_pipe());
    EXPECT_FALSE(peer().has_write_pipe());
    EXPECT_FALSE(peer().has_monitor());
  }

  FakeVpnOs os_;
  OutputRecorder recorder_;
  std::unique_ptr<VpnManager> manager_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_LIFECYCLE_FAKE_LIFECYCLE_TEST_H_
