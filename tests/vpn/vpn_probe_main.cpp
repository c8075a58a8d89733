// A helper program for the VPN tests, run as a child process:
//   vpn_test_probe discover     runs discovery and the WinTun install of a
//                               VpnManager on the real OS, from wherever the
//                               program was copied to, and prints the results
//   vpn_test_probe echo TEXT N  writes TEXT to standard output, exits with N
//   vpn_test_probe sleep        runs (silently) until it is ended, at most 60 s
//   vpn_test_probe host         puts a "sleep" copy of itself into a job that
//                               ends its processes on close, prints
//                               "child=PID", then sleeps like "sleep"
//   vpn_test_probe closed-std   (POSIX) closes its descriptors 0-2, starts an
//                               "echo" copy with a new output pipe, exits
//                               with 0 when the copy's text came through it
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "base/utf8_path.h"
#include "vpn/os/vpn_os.h"
#include "vpn/vpn_manager.h"

namespace {

class PrintingResult : public flutter::MethodResult<flutter::EncodableValue> {
 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    const bool* value = result != nullptr ? std::get_if<bool>(result) : nullptr;
    Print(std::string("install=") + (value != nullptr && *value ? "true" : "?"));
  }
  void ErrorInternal(const std::string& code, const std::string&,
                     const flutter::EncodableValue*) override {
    Print("install=" + code);
  }
  void NotImplementedInternal() override { Print("install=not implemented"); }

 public:
  static void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
};

int Discover() {
  VpnManager manager;
  PrintingResult::Print("singbox=" + manager.GetSingBoxExecutablePath());
  manager.InstallWinTunDriver(std::make_unique<PrintingResult>());
  return 0;
}

void SleepUntilEnded() { std::this_thread::sleep_for(std::chrono::seconds(60)); }

// Starts a copy of this program in `mode` (with `text` and the exit code 0
// for "echo"), its output into `output`.
vpn_os::ProcessResult StartCopy(vpn_os::VpnOs& os, const std::string& mode,
                                vpn_os::NativeHandle output, const std::string& text = {}) {
  const vpn_os::PathResult self = os.ExecutablePath();
  if (!self.ok) return {{}, self.error};
  const std::string path = velqa::base::Utf8FromPath(self.path);
  vpn_os::ProcessLaunch launch;
  launch.executable = self.path;
  launch.command_line = "\"" + path + "\" " + mode;
  launch.argv = {path, mode};
  if (mode == "echo") {
    launch.command_line += " \"" + text + "\" 0";
    launch.argv.insert(launch.argv.end(), {text, "0"});
  }
  launch.output = output;
  return os.StartProcess(launch);
}

// A host that holds a child in a kill-on-close job, to be killed by a test.
int HoldChildInJob() {
  vpn_os::VpnOs& os = vpn_os::PlatformOs();
  vpn_os::HandleResult job = os.CreateJob();
  if (!job.ok() || !os.ConfigureKillOnClose(job.handle.get()).ok) return 3;
  vpn_os::PipeResult pipe = os.CreateOutputPipe();
  if (!pipe.ok()) return 3;
  vpn_os::ProcessResult child = StartCopy(os, "sleep", pipe.write_end.get());
  if (!child.ok() || !os.AssignProcessToJob(job.handle.get(), child.info.process.get()).ok) {
    return 3;
  }
  PrintingResult::Print("child=" + std::to_string(child.info.process_id));
  SleepUntilEnded();
  return 0;
}

#ifndef _WIN32
int OutputWithStandardStreamsClosed() {
  for (int fd = 0; fd <= 2; ++fd) close(fd);
  vpn_os::VpnOs& os = vpn_os::PlatformOs();
  vpn_os::PipeResult pipe = os.CreateOutputPipe();
  if (!pipe.ok()) return 3;
  vpn_os::ProcessResult child = StartCopy(os, "echo", pipe.write_end.get(), "through the pipe");
  if (!child.ok()) return 3;
  pipe.write_end.Reset();
  std::string text;
  char buffer[256];
  for (;;) {
    const vpn_os::ReadResult read = os.Read(pipe.read_end.get(), buffer, nullptr);
    if (!read.ok || read.bytes == 0) break;
    text.append(buffer, read.bytes);
  }
  os.WaitForExit(child.info.process.get(), std::chrono::seconds(10));
  return text == "through the pipe" ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "discover") return Discover();
  if (mode == "echo" && argc > 3) {
    std::fputs(argv[2], stdout);
    std::fflush(stdout);
    return std::atoi(argv[3]);
  }
  if (mode == "sleep") {
    SleepUntilEnded();
    return 0;
  }
  if (mode == "host") return HoldChildInJob();
#ifndef _WIN32
  if (mode == "closed-std") return OutputWithStandardStreamsClosed();
#endif
  std::fputs("usage: vpn_test_probe discover | echo TEXT N | sleep | host\n", stderr);
  return 2;
}
