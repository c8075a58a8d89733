// Helpers of the VPN manager tests: a result that keeps what the handler
// answered, a transcript of the log records and console lines a piece of code
// wrote, scratch folders, and an OS interface that is the real one except for
// where the executable lives and which architecture the machine reports.
#ifndef VELQA_TESTS_VPN_VPN_TEST_UTIL_H_
#define VELQA_TESTS_VPN_VPN_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_result.h"
#include "tests/support/forwarding_vpn_os.h"
#include "vpn/os/vpn_os.h"
#include "vpn/vpn_manager.h"

// Reaches the manager's fields (declared a friend by VpnManager).
class VpnManagerTestPeer {
 public:
  static bool WinTunLoaded(const VpnManager& manager) { return manager.wintun_module_.is_valid(); }
  static bool HasChannel(const VpnManager& manager) { return manager.channel_ != nullptr; }
  // Puts a child started through `os` into the manager as start_vpn would.
  static void AdoptRunningChild(VpnManager& manager, vpn_os::ProcessInfo child,
                                vpn_os::UniqueOsHandle job) {
    manager.process_info_ = std::move(child);
    manager.job_object_ = std::move(job);
    manager.is_running_.store(true);
  }
  static void SetJob(VpnManager& manager, vpn_os::UniqueOsHandle job) {
    manager.job_object_ = std::move(job);
  }
};

namespace vpn_test {

// What one handler answered, counted so that a second answer shows.
struct Answer {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int count = 0;
  std::optional<flutter::EncodableValue> value;  // Success value, if any
  std::string code;
  std::string message;
  bool has_details = false;
};

class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordingResult(std::shared_ptr<Answer> answer) : answer_(std::move(answer)) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override;
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override;
  void NotImplementedInternal() override;

 private:
  std::shared_ptr<Answer> answer_;
};

// Calls HandleMethodCall as the channel does and returns the answer.
Answer Call(VpnManager& manager, const std::string& method,
            std::unique_ptr<flutter::EncodableValue> arguments = nullptr);

// Log records ("R: message", tag VpnManager only) and console lines
// ("C: text") that `action` wrote to standard output, in order.
std::vector<std::string> Transcript(const std::function<void()>& action);
// Only the log records ("R: ..." entries) of a transcript.
std::vector<std::string> Records(const std::vector<std::string>& transcript);

// A fresh folder below the temporary folder, removed with the object. The
// name may hold any Unicode text (given as UTF-8).
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& utf8_name);
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // Creates a file (and its folders) below the scratch folder.
  std::filesystem::path WriteFile(const std::filesystem::path& relative,
                                  const std::string& content = "x") const;

 private:
  std::filesystem::path path_;
};

// The folder of the running test executable (where the build puts the
// stand-ins: wintun/, data/, the probe program).
std::filesystem::path BinDirectory();
// File name of a program of this build ("name" + ".exe" on Windows).
std::string ProgramName(const std::string& name);

// The platform's OS interface, except for the executable's path and the
// machine's architecture, which the test chooses.
class RelocatedOs : public vpn_test_support::ForwardingVpnOs {
 public:
  RelocatedOs(std::filesystem::path executable, std::uint16_t architecture)
      : executable_(std::move(executable)), architecture_(architecture) {}

  vpn_os::PathResult ExecutablePath() override { return {true, executable_, 0}; }
  std::uint16_t NativeArchitecture() override { return architecture_; }

 private:
  std::filesystem::path executable_;
  std::uint16_t architecture_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_VPN_TEST_UTIL_H_
