// What the sing-box child holds and what the host may end, with real
// processes: the stand-in sing-box reports the handles it can reach, the
// host's log is rotated while the child runs, and the stray cleanup meets an
// id that has passed to another program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/utf8_path.h"
#include "tests/logging/logger_test_support.h"
#include "tests/support/build_layout.h"
#include "tests/support/process_probe.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/standin_config.h"
#include "tests/support/vpn_answer.h"

namespace vpn_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using velqa::base::PathFromUtf8;
using velqa::testing::IsProcessAlive;
using velqa::testing::WaitUntilGone;

// Polls for a file the stand-in creates once it has done its part.
bool WaitForFile(const fs::path& path, milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

class ChildHygieneTest : public ::testing::Test {
 protected:
  void SetUp() override { manager_ = std::make_unique<VpnManager>(os_); }
  void TearDown() override { manager_.reset(); }

  // Starts a stand-in that must come up healthy.
  void StartHealthy(const std::string& standin_json) {
    const std::string config = scratch_.Write("config.json", StandinConfig(standin_json));
    Answer reply = StartVpn(*manager_, config);
    ASSERT_EQ(reply.kind, Answer::Kind::kSuccess) << reply.code << " " << reply.message;
  }
  fs::path Scratch(const std::string& name) const { return scratch_.path() / name; }

  ScopedProcessOs os_;
  ScratchDir scratch_{"velqa hygiene"};
  std::unique_ptr<VpnManager> manager_;
};

// The host holds an inheritable file (as a C runtime opens them); the child
// must reach nothing but its standard streams (and, on Windows, what the
// system gives every process: its current directory and its console).
TEST_F(ChildHygieneTest, ChildHoldsNothingButItsOutput) {
  std::FILE* inheritable = std::fopen(Scratch("host-file.txt").string().c_str(), "w");
  ASSERT_NE(inheritable, nullptr);
  const fs::path report = Scratch("held.txt");
  const fs::path done = Scratch("done");
  ASSERT_NO_FATAL_FAILURE(
      StartHealthy("{\"report_handles\": " + JsonString(velqa::base::Utf8FromPath(report)) +
                   ", \"done_file\": " + JsonString(velqa::base::Utf8FromPath(done)) + "}"));
  ASSERT_TRUE(WaitForFile(done, milliseconds(5000)));
  std::fclose(inheritable);

  const std::vector<std::string> held = ReadLines(report);
  std::vector<std::string> unexpected;
  int standard = 0;
  for (const std::string& line : held) {
    if (line.find(" standard ") != std::string::npos) {
      ++standard;
    } else if (line.find(" other ") != std::string::npos) {
      unexpected.push_back(line);
    }
  }
  EXPECT_GE(standard, 1) << testing::PrintToString(held);
  EXPECT_THAT(unexpected, testing::IsEmpty()) << testing::PrintToString(held);
}

// The symptom of a child holding the log file: on Windows its rename at
// rotation is refused and the rest of the day was lost.
TEST_F(ChildHygieneTest, LogRotationWhileSingBoxRunsSucceedsAndLosesNoRecord) {
  TempDir install;
  velqa::logging::LogEnvironment environment;
  environment.install_directory = [&install] { return install.utf8(); };
  std::unique_ptr<NativeLogger> logger = NativeLoggerTestPeer::Create(environment);
  ASSERT_TRUE(logger->Initialize());
  ASSERT_NO_FATAL_FAILURE(StartHealthy("{\"silent\": true}"));

  const fs::path day_file = PathFromUtf8(NativeLoggerTestPeer::LogFilePath(*logger));
  ConsoleCapture console;
  int written = 0;
  while (NativeLoggerTestPeer::RecordCount(*logger) % 100 != 99) {
    logger->Info("record " + std::to_string(written++), "Test");
  }
  fs::resize_file(day_file, kRotationThreshold + 1);
  for (int i = 0; i < 150; ++i) logger->Info("record " + std::to_string(written++), "Test");
  console.Finish();
  EXPECT_EQ(console.err(), "");

  std::vector<std::string> lines;
  int rotated_files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(install.logs())) {
    if (entry.path() == day_file) continue;
    ++rotated_files;
    // Records before the growth at its start, the rest after the gap.
    std::ifstream head(entry.path(), std::ios::binary);
    std::string start(1 << 16, '\0');
    head.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(head.gcount()));
    for (std::string& line : SplitLines(start)) lines.push_back(line);
    for (std::string& line : ReadTailLines(entry.path(), 1 << 16)) lines.push_back(line);
  }
  ASSERT_EQ(rotated_files, 1);
  const std::vector<std::string> fresh = ReadLines(day_file);
  ASSERT_FALSE(fresh.empty());
  EXPECT_THAT(fresh.front(), testing::HasSubstr("日志文件轮转: "));
  lines.insert(lines.end(), fresh.begin(), fresh.end());
  std::set<std::string> found;
  for (const std::string& line : lines) {
    const std::size_t at = line.find("[Test] [I] record ");
    if (at != std::string::npos) found.insert(line.substr(at + 11));
  }
  for (int i = 0; i < written; ++i) {
    EXPECT_EQ(found.count("record " + std::to_string(i)), 1u) << i;
  }
}

// The snapshot named a sing-box, but by the time it is opened its id belongs
// to another program: that program must be left alone.
class ReusedIdOs : public ScopedProcessOs {
 public:
  std::uint32_t reused_id = 0;
  vpn_os::SnapshotResult SnapshotProcesses() override {
    vpn_os::SnapshotResult result = ScopedProcessOs::SnapshotProcesses();
    for (vpn_os::ProcessEntry& entry : result.processes) {
      if (entry.process_id == reused_id) entry.image_name = "sing-box.exe";
    }
    return result;
  }
};

TEST(StrayCleanupTest, ProcessThatNoLongerHasTheImageNameIsNotEnded) {
  ReusedIdOs os;
  ScratchDir scratch{"velqa hygiene"};
  const std::string config = scratch.Write("config.json", StandinConfig("{\"silent\": true}"));
  // Another program now has the id: here a stand-in under another name.
  vpn_os::ProcessInfo other =
      os.StartStray(ExecutableDirectory() / "data" / "sing-box-amd64.exe", config);
  ASSERT_TRUE(other.process);
  os.reused_id = other.process_id;
  {
    VpnManager manager(os);
    Answer stop = Call(manager, "stop_vpn");
    EXPECT_EQ(stop.kind, Answer::Kind::kSuccess);
  }
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_TRUE(IsProcessAlive(other.process_id));
  os.Terminate(other.process.get(), 0);
  EXPECT_TRUE(WaitUntilGone(other.process_id, milliseconds(3000)));
}

}  // namespace
}  // namespace vpn_test
