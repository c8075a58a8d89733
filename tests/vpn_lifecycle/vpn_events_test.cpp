// What the Dart side hears on "com.velqa.assistant/vpn_events" while real
// stand-in children start, end by themselves and are stopped, and what the
// last-output text of an "exited" event holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/standard_method_codec.h"
#include "tests/channel_core/codec_test_support.h"
#include "tests/channel_core/recording_messenger.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/standin_config.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "vpn/output_tail.h"
#include "vpn/vpn_events.h"

namespace vpn_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::StandardMethodCodec;
using ::testing::EndsWith;
using velqa::vpn::OutputTail;
using velqa::vpn::VpnEvents;

EncodableValue Started(std::uint32_t pid) { return VpnEvents::Started(pid); }
const EncodableValue kStopped = VpnEvents::Stopped();

class VpnEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = std::make_unique<VpnManager>(os_);
    manager_->RegisterEventChannel(&messenger_, [this] { wakes_.fetch_add(1); });
  }
  void TearDown() override { manager_.reset(); }

  void Stream(const char* method) {
    messenger_.Deliver(VpnEvents::kChannelName,
                       *StandardMethodCodec::GetInstance().EncodeMethodCall(
                           flutter::MethodCall<>(method, nullptr)));
  }
  std::uint32_t StartHealthy() {
    Answer reply =
        StartVpn(*manager_, scratch_.Write("healthy.json", StandinConfig(R"({"silent": true})")));
    EXPECT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
    return VpnManagerTestPeer(*manager_).process_id();
  }
  // As the window does on the monitor's wake-up: deliver on this thread.
  bool WaitForWakeAndDeliver(int wakes_before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (wakes_.load() == wakes_before) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    manager_->DeliverPendingEvents();
    return true;
  }
  // The events sent, decoded; each must have been sent on this thread.
  std::vector<EncodableValue> Events() const {
    std::vector<EncodableValue> events;
    for (const auto& sent : messenger_.sent()) {
      EXPECT_EQ(sent.channel, VpnEvents::kChannelName);
      EXPECT_EQ(sent.thread, std::this_thread::get_id());
      EXPECT_EQ(sent.bytes.at(0), 0) << "not a success envelope";
      events.push_back(velqa_test::Decode(sent.bytes, 1));
    }
    return events;
  }

  ScopedProcessOs os_;
  ScratchDir scratch_;
  velqa_test::RecordingMessenger messenger_;
  std::atomic<int> wakes_{0};
  std::unique_ptr<VpnManager> manager_;
};

// A process the child started may hold the output open long after the child
// has gone (here 8 s): the end is told while it does, not when the pipe ends.
class ChildEndTest : public VpnEventsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ChildEndTest, AChildThatEndsByItselfIsToldOnceWithItsCodeAndLastLine) {
  Stream("listen");
  const std::string config = scratch_.Write(
      "exits.json",
      StandinConfig(std::string(R"({"stdout": "first\n", "exit_after_ms": 1300, "exit_code": 7,
                        "last_words": "last words")") + GetParam() + "}"));
  const int wakes = wakes_.load();
  ASSERT_EQ(StartVpn(*manager_, config).kind, Answer::Kind::kSuccess);
  const std::uint32_t pid = VpnManagerTestPeer(*manager_).process_id();
  ASSERT_TRUE(WaitForWakeAndDeliver(wakes));
  // Whoever looks next, the end was told already.
  Call(*manager_, "get_vpn_status");
  Call(*manager_, "stop_vpn");
  manager_->DeliverPendingEvents();

  const std::vector<EncodableValue> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], Started(pid));
  const auto& exited = std::get<EncodableMap>(events[1]);
  EXPECT_EQ(exited.at(EncodableValue("event")), EncodableValue("exited"));
  EXPECT_EQ(exited.at(EncodableValue("exit_code")), EncodableValue(7));
  const std::string output = std::get<std::string>(exited.at(EncodableValue("output")));
  EXPECT_THAT(output, ::testing::StartsWith("first"));
  EXPECT_THAT(output, ::testing::HasSubstr("last words"));
}

INSTANTIATE_TEST_SUITE_P(Alone, ChildEndTest, ::testing::Values(""));
INSTANTIATE_TEST_SUITE_P(WithADescendantHoldingTheOutput, ChildEndTest,
                         ::testing::Values(R"(, "escape_child_ms": 8000)"));

TEST_F(VpnEventsTest, StopRestartAndTheManagersEndTellStopped) {
  Stream("listen");
  const std::uint32_t first = StartHealthy();
  const std::uint32_t second = StartHealthy();  // a restart ends the first
  Call(*manager_, "stop_vpn");
  Call(*manager_, "stop_vpn");  // nothing runs: nothing to tell
  const std::uint32_t third = StartHealthy();
  manager_.reset();
  EXPECT_EQ(Events(), (std::vector<EncodableValue>{Started(first), kStopped, Started(second),
                                                   kStopped, Started(third), kStopped}));
}

TEST_F(VpnEventsTest, NothingIsSentWhileNobodyListensNorAfterCancel) {
  StartHealthy();
  Call(*manager_, "stop_vpn");
  Stream("listen");
  Stream("cancel");
  StartHealthy();
  Call(*manager_, "stop_vpn");
  EXPECT_TRUE(messenger_.sent().empty());
  EXPECT_EQ(messenger_.replies().size(), 2u);
}

TEST(OutputTailTest, KeepsTheLastWholeLinesWithinTheLimitAsUtf8) {
  OutputTail tail;
  const std::string line(1000, 'a');
  for (int i = 0; i < 10; ++i) tail.Append((line + "\n").data(), line.size() + 1);
  tail.Append("end", 3);
  // Four whole lines and the unfinished last one would be 4007 bytes.
  EXPECT_EQ(tail.LastLines(), line + "\n" + line + "\n" + line + "\n" + line + "\nend");

  tail.Clear();
  // Far past the bytes kept, in reads that do not line up with them.
  std::string expected;
  for (int i = 0; i < 30; ++i) {
    const std::string text = std::string(999, static_cast<char>('A' + i % 26)) + "\n";
    tail.Append(text.data(), text.size());
    if (i >= 26) expected += text;
  }
  EXPECT_EQ(tail.LastLines(), expected);

  tail.Clear();
  // One line longer than the limit: its end, from a character's first byte;
  // a byte that is not UTF-8 becomes U+FFFD.
  const std::string chinese = "\xE4\xB8\xAD";  // three bytes
  std::string long_line;
  for (int i = 0; i < 2000; ++i) long_line += chinese;
  long_line += "\xFF";
  tail.Append(long_line.data(), long_line.size());
  const std::string last = tail.LastLines();
  EXPECT_LE(last.size(), OutputTail::kLimit);
  EXPECT_GE(last.size(), OutputTail::kLimit - 3);
  EXPECT_EQ(last.substr(0, 3), chinese);
  EXPECT_THAT(last, EndsWith(chinese + "\xEF\xBF\xBD"));
}

}  // namespace
}  // namespace vpn_test
