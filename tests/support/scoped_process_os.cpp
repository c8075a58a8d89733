#include "tests/support/scoped_process_os.h"

#include <utility>

#include "base/utf8_path.h"

namespace vpn_test {

void ScopedProcessOs::Track(std::uint32_t process_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  tracked_.insert(process_id);
}

vpn_os::ProcessResult ScopedProcessOs::StartProcess(const vpn_os::ProcessLaunch& launch) {
  vpn_os::ProcessResult result = real_.StartProcess(launch);
  if (result.ok()) Track(result.info.process_id);
  return result;
}

vpn_os::Status ScopedProcessOs::AssignProcessToJob(vpn_os::NativeHandle job,
                                                   vpn_os::NativeHandle process) {
  constexpr vpn_os::OsErrorCode kAccessDenied = 5;
  if (refuse_job_assignment_) return vpn_os::Status::Failure(kAccessDenied);
  return real_.AssignProcessToJob(job, process);
}

std::string ReadToEnd(vpn_os::VpnOs& os, vpn_os::NativeHandle pipe) {
  std::string text;
  char buffer[4095];
  for (;;) {
    const vpn_os::ReadResult read = os.Read(pipe, buffer, nullptr);
    if (!read.ok || read.bytes == 0) return text;
    text.append(buffer, read.bytes);
  }
}

vpn_os::ProcessLaunch ProgramLaunch(const std::filesystem::path& executable,
                                    const std::vector<std::string>& arguments,
                                    vpn_os::NativeHandle output, vpn_os::NativeHandle token) {
  vpn_os::ProcessLaunch launch;
  launch.executable = executable;
  const std::string program = velqa::base::Utf8FromPath(executable);
  launch.command_line = "\"" + program + "\"";
  launch.argv = {program};
  for (const std::string& argument : arguments) {
    launch.command_line += " \"" + argument + "\"";
    launch.argv.push_back(argument);
  }
  launch.output = output;
  launch.token = token;
  return launch;
}

vpn_os::ProcessResult ScopedProcessOs::StartProgram(const std::filesystem::path& executable,
                                                    const std::vector<std::string>& arguments,
                                                    vpn_os::NativeHandle output) {
  vpn_os::HandleResult token = real_.OpenOwnProcessToken();
  vpn_os::HandleResult primary = real_.DuplicatePrimaryToken(token.handle.get());
  return StartProcess(ProgramLaunch(executable, arguments, output, primary.handle.get()));
}

vpn_os::ProcessInfo ScopedProcessOs::StartStray(const std::filesystem::path& executable,
                                                const std::string& config_path) {
  // Its output goes to a pipe nobody reads; a silent stand-in writes nothing.
  vpn_os::PipeResult pipe = real_.CreateOutputPipe();
  return StartProgram(executable, {"run", "-c", config_path}, pipe.write_end.get()).info;
}

vpn_os::SnapshotResult ScopedProcessOs::SnapshotProcesses() {
  vpn_os::SnapshotResult all = real_.SnapshotProcesses();
  std::lock_guard<std::mutex> lock(mutex_);
  ++snapshots_;
  vpn_os::SnapshotResult mine;
  mine.ok = all.ok;
  mine.error = all.error;
  for (auto& entry : all.processes) {
    if (tracked_.count(entry.process_id)) mine.processes.push_back(std::move(entry));
  }
  return mine;
}

bool ScopedProcessOs::IsListed(std::uint32_t process_id) {
  for (const auto& entry : real_.SnapshotProcesses().processes) {
    if (entry.process_id == process_id) return true;
  }
  return false;
}

}  // namespace vpn_test
