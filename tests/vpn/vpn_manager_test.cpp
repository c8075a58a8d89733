// The manager as the Dart side and the host window see it: dispatch by exact
// method name, the channel registration, and what destruction ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8_path.h"
#include "channel/binary_messenger.h"
#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/standard_method_codec.h"
#include "logging/native_logger.h"
#include "tests/support/fake_vpn_os.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn/transcript.h"
#include "vpn/vpn_manager.h"

namespace vpn_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

// Records use the logger's full format only once it is initialised.
class LoggerEnvironment : public testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(NativeLogger::GetInstance().Initialize()); }
};
testing::Environment* const kLoggerEnvironment =
    testing::AddGlobalTestEnvironment(new LoggerEnvironment);

// A messenger that keeps the installed handlers and plays the Dart side.
class RecordingMessenger : public flutter::BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t, flutter::BinaryReply) override {}
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override {
    installs.push_back(channel);
    if (handler) {
      handlers[channel] = std::move(handler);
    } else {
      handlers.erase(channel);
    }
  }

  // Sends an encoded call on `channel`; the bytes of the reply (empty for
  // not implemented) and how many replies came.
  std::pair<std::vector<uint8_t>, int> Deliver(const std::string& channel,
                                               const std::vector<uint8_t>& message) {
    std::vector<uint8_t> reply_bytes;
    int replies = 0;
    handlers.at(channel)(message.data(), message.size(),
                         [&](const uint8_t* reply, size_t size) {
                           ++replies;
                           if (reply != nullptr) reply_bytes.assign(reply, reply + size);
                         });
    return {reply_bytes, replies};
  }

  std::map<std::string, flutter::BinaryMessageHandler> handlers;
  std::vector<std::string> installs;
};

std::vector<uint8_t> EncodeCall(const std::string& method, EncodableValue arguments) {
  flutter::MethodCall<EncodableValue> call(method,
                                           std::make_unique<EncodableValue>(std::move(arguments)));
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

class VpnManagerTest : public testing::Test {
 protected:
  VpnManagerTest() {
    os_.SetExecutablePath("/velqa/velqa_assistant.exe");
    os_.AddPath("/velqa/wintun/wintun_x64.dll");
  }
  FakeVpnOs os_;
};

TEST_F(VpnManagerTest, NamesThatAreNotExactlyAMethodAreNotImplementedSilently) {
  VpnManager manager(os_);
  for (const char* name : {"Start_vpn", "START_VPN", "start_vpn ", " start_vpn", "", "stop-vpn",
                           "check_tun_driver\n", "install_wintun_driver2"}) {
    Answer answer;
    const Strings transcript = Transcript([&] { answer = Call(manager, name); });
    EXPECT_EQ(answer.kind, Answer::Kind::kNotImplemented) << "'" << name << "'";
    EXPECT_EQ(answer.count, 1);
    EXPECT_TRUE(transcript.empty()) << "'" << name << "' wrote " << transcript.front();
  }
  EXPECT_TRUE(os_.Journal().empty());
}

TEST_F(VpnManagerTest, EachMethodReachesItsOwnHandlerAndIsAnsweredOnce) {
  VpnManager manager(os_);
  const std::map<std::string, std::string> first_record = {
      {"start_vpn", "HandleStartVpnMethod called"},
      {"stop_vpn", "HandleStopVpnMethod called"},
      {"check_tun_driver", "HandleCheckTunDriverMethod called"},
      {"install_wintun_driver", "HandleInstallWinTunDriverMethod called"},
  };
  for (const auto& [method, record] : first_record) {
    Answer answer;
    const Strings records = Records(Transcript([&] { answer = Call(manager, method); }));
    ASSERT_FALSE(records.empty()) << method;
    EXPECT_EQ(records.front(), record);
    EXPECT_EQ(answer.count, 1) << method;
    EXPECT_NE(answer.kind, Answer::Kind::kNotImplemented) << method;
  }
  // get_vpn_status writes no record of its own before it answers a bool.
  Answer status;
  const Strings records = Records(Transcript([&] { status = Call(manager, "get_vpn_status"); }));
  EXPECT_TRUE(records.empty()) << records.front();
  ASSERT_EQ(status.kind, Answer::Kind::kSuccess);
  ASSERT_TRUE(status.value.has_value());
  EXPECT_TRUE(std::holds_alternative<bool>(*status.value));
}

TEST_F(VpnManagerTest, CheckTunDriverIgnoresItsArgumentsAndAnswersABool) {
  VpnManager manager(os_);
  auto arguments = std::make_unique<EncodableValue>(
      EncodableMap{{EncodableValue("config_path"), EncodableValue(5)}});
  const Answer answer = Call(manager, "check_tun_driver", std::move(arguments));
  ASSERT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*answer.value, EncodableValue(true));

  os_.RemovePath("/velqa/wintun/wintun_x64.dll");
  const Answer missing =
      Call(manager, "check_tun_driver", std::make_unique<EncodableValue>(EncodableValue("x")));
  ASSERT_EQ(missing.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(*missing.value, EncodableValue(false));
}

TEST_F(VpnManagerTest, ConstructionTouchesNothing) {
  Strings transcript = Transcript([&] { VpnManager manager(os_); });
  // Destruction of an idle manager only stops the (absent) monitor.
  EXPECT_EQ(transcript, (Strings{"R: Stopping log monitor...", "R: Log monitor stopped"}));
  EXPECT_TRUE(os_.Journal().empty());
  EXPECT_EQ(os_.OpenHandleCount(), 0u);
}

TEST_F(VpnManagerTest, RegisteredChannelAnswersEncodedCalls) {
  RecordingMessenger messenger;
  VpnManager manager(os_);
  manager.RegisterMethodChannelDirect(&messenger);
  ASSERT_EQ(messenger.handlers.count(VpnManager::kChannelName), 1u);

  // check_tun_driver: success envelope holding true.
  auto [reply, replies] =
      messenger.Deliver(VpnManager::kChannelName, EncodeCall("check_tun_driver", {}));
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0x01}));

  // An unknown name: the empty not-implemented reply.
  auto [unknown, unknown_replies] =
      messenger.Deliver(VpnManager::kChannelName, EncodeCall("Check_tun_driver", {}));
  EXPECT_EQ(unknown_replies, 1);
  EXPECT_TRUE(unknown.empty());

  // install_wintun_driver without the library: the error envelope, no details.
  os_.RemovePath("/velqa/wintun/wintun_x64.dll");
  auto [error, error_replies] =
      messenger.Deliver(VpnManager::kChannelName, EncodeCall("install_wintun_driver", {}));
  EXPECT_EQ(error_replies, 1);
  const std::string code = "WINTUN_INSTALL_FAILED";
  const std::string message = "Failed to install WinTun driver";
  std::vector<uint8_t> envelope = {0x01, 0x07, static_cast<uint8_t>(code.size())};
  envelope.insert(envelope.end(), code.begin(), code.end());
  envelope.push_back(0x07);
  envelope.push_back(static_cast<uint8_t>(message.size()));
  envelope.insert(envelope.end(), message.begin(), message.end());
  envelope.push_back(0x00);  // no details
  EXPECT_EQ(error, envelope);
}

TEST_F(VpnManagerTest, RegisteringTwiceLeavesOneChannelWithTheLaterHandler) {
  RecordingMessenger messenger;
  VpnManager manager(os_);
  manager.RegisterMethodChannelDirect(&messenger);
  manager.RegisterMethodChannelDirect(&messenger);

  EXPECT_EQ(messenger.installs,
            (Strings{VpnManager::kChannelName, VpnManager::kChannelName}));
  EXPECT_EQ(messenger.handlers.size(), 1u);
  ASSERT_TRUE(VpnManagerTestPeer(manager).has_channel());
  // The handler installed last reaches this manager.
  auto [reply, replies] =
      messenger.Deliver(VpnManager::kChannelName, EncodeCall("check_tun_driver", {}));
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0x01}));
}

TEST_F(VpnManagerTest, DestroyingARunningManagerEndsTheChildThenReleasesWinTun) {
  Strings transcript;
  {
    auto manager = std::make_unique<VpnManager>(os_);
    ASSERT_EQ(Call(*manager, "install_wintun_driver").kind, Answer::Kind::kSuccess);
    // A child as start_vpn leaves it: in the job, handles held.
    os_.AddPath("/velqa/data/sing-box-amd64.exe");
    vpn_os::PipeResult pipe = os_.CreateOutputPipe();
    vpn_os::ProcessLaunch launch;
    launch.executable = "/velqa/data/sing-box-amd64.exe";
    launch.command_line = "child";
    launch.output = pipe.write_end.get();
    vpn_os::ProcessResult child = os_.StartProcess(launch);
    ASSERT_TRUE(child.ok());
    const std::uint32_t pid = child.info.process_id;
    vpn_os::HandleResult job = os_.CreateJob();
    pipe = {};
    VpnManagerTestPeer(*manager).AdoptRunningChild(std::move(child.info), std::move(job.handle));
    os_.ClearJournal();

    transcript = Transcript([&] { manager.reset(); });
    EXPECT_FALSE(os_.ProcessRuns(pid));
    EXPECT_EQ(os_.ProcessExitCode(pid), 0u);
  }
  EXPECT_EQ(os_.Journal(),
            (Strings{"Terminate process#1 0", "WaitForExit process#1 3000", "Close process#1",
                     "Close thread#1", "Close job#1",
                     "ReleaseModule " +
                         velqa::base::Utf8FromPath(
                             fs::path("/velqa/wintun/wintun_x64.dll").lexically_normal())}));
  EXPECT_EQ(transcript, (Strings{"R: Stopping log monitor...", "R: Log monitor stopped",
                                 "R: Unloading WinTun library...", "R: WinTun library unloaded"}));
  EXPECT_EQ(os_.OpenHandleCount(), 0u);
  EXPECT_EQ(os_.LoadedModules(), 0);
}

TEST_F(VpnManagerTest, DestroyingAManagerWhoseChildEndedStillClosesTheJob) {
  // get_vpn_status clears is_running_ when the child has ended but leaves the
  // job open; whatever the child left in the job must not outlive the host's
  // manager.
  auto manager = std::make_unique<VpnManager>(os_);
  VpnManagerTestPeer(*manager).SetJob(os_.CreateJob().handle);
  os_.ClearJournal();
  manager.reset();
  EXPECT_EQ(os_.Journal(), (Strings{"Close job#1"}));
  EXPECT_EQ(os_.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace vpn_test
