// The event channel of the bundled application under Wine, heard by the
// stand-in engine's scripted Dart side: a sing-box that ends by itself is told
// once with its code and last line, a stop is told, nothing follows a cancel,
// and nothing reaches the Dart side from a thread other than the platform's.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kEvents[] = "com.velqa.assistant/vpn_events";

struct StreamLine {
  std::string kind;      // listen, cancel or event
  std::string readable;  // "success {...}"
};

std::vector<StreamLine> ReadStream(const fs::path& path) {
  std::vector<StreamLine> lines;
  for (const std::string& line : SplitLines(ReadFileBytes(path))) {
    const size_t kind = line.find('\t') + 1;
    const size_t hex = line.find('\t', kind) + 1;
    const size_t readable = line.find('\t', hex) + 1;
    EXPECT_EQ(line.substr(0, kind - 1), kEvents);
    lines.push_back({line.substr(kind, hex - kind - 1), line.substr(readable)});
  }
  return lines;
}

TEST(VpnEventsE2eTest, EndByItselfIsToldOnceStopIsToldAndNothingFollowsACancel) {
  const fs::path bundle = BundleDirectory();
  ASSERT_TRUE(fs::exists(bundle / L"velqa_assistant.exe")) << Utf8(bundle);
  TempDirectory work(L"velqa_events_");
  const fs::path exits = work.path() / L"exits.json";
  const fs::path healthy = work.path() / L"healthy.json";
  // Ends 300 ms after its start has been answered.
  WriteFileBytes(exits, vpn_test::StandinConfig(
                            R"({"exit_after_ms": 1300, "exit_code": 7, "last_words": "bye now"})"));
  WriteFileBytes(healthy, vpn_test::StandinConfig(R"({"silent": true})"));
  const auto start = [](const fs::path& config) {
    return "call start_vpn {\"config_path\": " + vpn_test::JsonString(Utf8(config)) + "}\n";
  };
  const fs::path script = work.path() / L"events.dart-script";
  const fs::path stream = work.path() / L"stream.txt";
  const fs::path engine_events = work.path() / L"engine.txt";
  WriteFileBytes(script, std::string("listen ") + kEvents + "\n" + start(exits) +
                             "sleep 1500\n"
                             "call get_vpn_status\n" +
                             start(healthy) + "call stop_vpn\n" + "cancel " + kEvents + "\n" +
                             start(healthy) + "call stop_vpn\nexit\n");

  AppProcess app;
  DWORD error = 0;
  ASSERT_TRUE(app.Start(bundle / L"velqa_assistant.exe",
                        {L"--dart-script", script.wstring(), L"--dart-streams", stream.wstring(),
                         L"--dart-events", engine_events.wstring()},
                        work.path(), &error))
      << error;
  ASSERT_EQ(app.WaitForExit(60000), std::optional<DWORD>(0)) << app.Output();

  const std::vector<StreamLine> lines = ReadStream(stream);
  std::vector<std::string> kinds;
  for (const StreamLine& line : lines) kinds.push_back(line.kind);
  ASSERT_EQ(kinds, (std::vector<std::string>{"listen", "event", "event", "event", "event",
                                             "cancel"}))
      << ReadFileBytes(stream);
  EXPECT_EQ(lines[0].readable, "success null");
  EXPECT_THAT(lines[1].readable, HasSubstr("success {\"event\":\"started\",\"pid\":"));
  EXPECT_THAT(lines[2].readable, HasSubstr("{\"event\":\"exited\",\"exit_code\":7,\"output\":"));
  EXPECT_THAT(lines[2].readable, HasSubstr("bye now"));
  EXPECT_THAT(lines[3].readable, HasSubstr("\"event\":\"started\""));
  EXPECT_EQ(lines[4].readable, "success {\"event\":\"stopped\"}");
  EXPECT_EQ(lines[5].readable, "success null");
  EXPECT_THAT(ReadFileBytes(engine_events), Not(HasSubstr("fault")));
}

}  // namespace
}  // namespace velqa::e2e
