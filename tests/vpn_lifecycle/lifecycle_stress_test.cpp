// Start, status and stop in quick succession with children that end at
// different moments around the monitor's checks: the platform thread and the
// monitor must never use the process handle at the same time (the sanitizer
// builds watch this), nothing may hang, and no child may be left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/utf8_path.h"
#include "logging/native_logger.h"
#include "tests/support/build_layout.h"
#include "tests/support/process_probe.h"
#include "tests/support/scoped_process_os.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/standin_config.h"
#include "tests/support/vpn_answer.h"
#include "tests/support/vpn_manager_test_peer.h"
#include "tests/vpn_lifecycle/output_recorder.h"

namespace vpn_test {
namespace {

using std::chrono::milliseconds;
using velqa::testing::IsProcessAlive;
using velqa::testing::WaitUntilGone;

TEST(LifecycleStressTest, StartStatusStopHammeringLeavesNoChild) {
  NativeLogger::GetInstance().Initialize();
  OutputRecorder recorder;  // keeps the flood of records off the test's output
  ScopedProcessOs os;
  ScratchDir scratch;
  std::vector<std::uint32_t> children;
  {
    VpnManager manager(os);
    // Lifetimes chosen to end just after the start check, while the monitor
    // polls, and not at all.
    const int lifetimes[] = {1100, -1, 1150, 1250, -1, 1050, 1200};
    int round = 0;
    for (int lifetime : lifetimes) {
      std::string script =
          lifetime < 0 ? R"({"stdout": "up\n"})"
                       : R"({"stdout": "up\n", "exit_after_ms": )" + std::to_string(lifetime) + "}";
      const std::string config =
          scratch.Write("c" + std::to_string(round) + ".json", StandinConfig(script));
      Answer start = StartVpn(manager, config);
      ASSERT_EQ(start.count, 1);
      if (start.kind == Answer::Kind::kSuccess) {
        children.push_back(VpnManagerTestPeer(manager).process_id());
      }
      for (int i = 0; i < 12; ++i) {
        Answer status = Call(manager, "get_vpn_status");
        ASSERT_EQ(status.count, 1);
        std::this_thread::sleep_for(milliseconds(15));
      }
      // Every other round goes straight into the next start (which ends a
      // child that still runs); the others stop first.
      if (round++ % 2 == 1) {
        ASSERT_EQ(Call(manager, "stop_vpn").count, 1);
      }
    }
  }  // the destructor ends the last child
  for (std::uint32_t pid : children) EXPECT_TRUE(WaitUntilGone(pid, milliseconds(3000))) << pid;
  EXPECT_GE(children.size(), 2u);
}

TEST(LifecycleStressTest, HostKilledHardLeavesNoChild) {
  ScopedProcessOs os;
  ScratchDir scratch;
  const std::string config = scratch.Write("helper.json", StandinConfig(R"({"silent": true})"));
  const std::filesystem::path helper =
      ExecutableDirectory() / ProgramName("vpn_lifecycle_host_helper");
  vpn_os::PipeResult pipe = os.CreateOutputPipe();
  ASSERT_TRUE(pipe.ok());
  vpn_os::ProcessResult host = os.StartProgram(helper, {config}, pipe.write_end.get());
  ASSERT_TRUE(host.ok()) << host.error;
  pipe.write_end.Reset();

  // Read the helper's output until it is ready; a watchdog ends the read if
  // it never comes.
  auto cancel = os.CreateReadCancellation();
  std::thread watchdog([&] {
    for (int i = 0; i < 300 && !cancel->IsCancelled(); ++i)
      std::this_thread::sleep_for(milliseconds(50));
    cancel->Cancel();
  });
  std::string output;
  char buffer[4096];
  while (output.find("HELPER ") == std::string::npos ||
         output.find('\n', output.find("HELPER ")) == std::string::npos) {
    vpn_os::ReadResult read = os.Read(pipe.read_end.get(), std::span<char>(buffer), cancel.get());
    if (!read.ok || read.bytes == 0) break;
    output.append(buffer, read.bytes);
  }
  cancel->Cancel();
  watchdog.join();
  ASSERT_NE(output.find("HELPER READY"), std::string::npos) << output;
  const std::string marker = "VpnManager: Process created successfully, PID: ";
  size_t at = output.find(marker);
  ASSERT_NE(at, std::string::npos) << output;
  const auto child = static_cast<std::uint32_t>(std::stoul(output.substr(at + marker.size())));
  ASSERT_TRUE(IsProcessAlive(child));

  // No destructor, no stop: the process is simply gone.
  ASSERT_TRUE(os.Terminate(host.info.process.get(), 9));
  os.WaitForExit(host.info.process.get(), milliseconds(3000));
  EXPECT_TRUE(WaitUntilGone(child, milliseconds(5000)));
}

}  // namespace
}  // namespace vpn_test
