#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/unique_dir_posix.h"
#include "base/unique_fd_posix.h"
#include "standins/sing_box/platform.h"

extern char** environ;

namespace standin {

std::vector<std::string> Arguments(int argc, char** argv) {
  // A vanished reader must not kill the stand-in through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::string* reason) {
  const velqa::base::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    *reason = std::strerror(errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    contents->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool WriteTextFile(const std::string& path, const std::string& contents, std::string* reason) {
  const velqa::base::UniqueFd fd(
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) {
    *reason = std::strerror(errno);
    return false;
  }
  const bool written =
      write(fd.get(), contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
  if (!written) *reason = std::strerror(errno);
  return written;
}

std::vector<std::string> HeldHandles() {
  std::vector<std::string> held;
  const velqa::base::UniqueDir dir(opendir("/proc/self/fd"));
  if (!dir) return {"-1 other cannot list /proc/self/fd"};
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == dirfd(dir.get())) continue;  // the listing itself
    char target[4096];
    const ssize_t length = readlink(("/proc/self/fd/" + std::string(entry->d_name)).c_str(), target,
                                    sizeof target - 1);
    target[length > 0 ? length : 0] = '\0';
    held.push_back(std::to_string(fd) + (fd <= STDERR_FILENO ? " standard " : " other ") + target);
  }
  return held;
}

bool WriteAll(Stream stream, const char* data, size_t size) {
  int fd = stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

// Starts this executable again with "run -c CONFIG"; `attributes` may be null.
unsigned long SpawnSelf(const std::string& config_path, const posix_spawnattr_t* attributes,
                        std::string* reason) {
  char self[4096];
  ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0) {
    *reason = std::strerror(errno);
    return 0;
  }
  self[len] = '\0';
  std::string run = "run", option = "-c", config = config_path;
  char* argv[] = {self, run.data(), option.data(), config.data(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, self, nullptr, attributes, argv, environ);
  if (rc != 0) {
    *reason = std::strerror(rc);
    return 0;
  }
  return static_cast<unsigned long>(pid);
}

}  // namespace

unsigned long SpawnCopy(const std::string& config_path, std::string* reason) {
  setenv(kNoSpawnVariable, "1", 1);
  return SpawnSelf(config_path, nullptr, reason);
}

unsigned long SpawnEscapingCopy(const std::string& config_path, Linger linger,
                                std::string* reason) {
  setenv(kNoSpawnVariable, "1", 1);
  setenv(kLingerVariable, std::to_string(linger.ms).c_str(), 1);
  if (linger.writes) setenv(kLingerWritesVariable, "1", 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A new session: out of the process group that the host's job ends.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  unsigned long pid = SpawnSelf(config_path, &attributes, reason);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

Linger LingerRequested() {
  const char* ms = std::getenv(kLingerVariable);
  return {ms != nullptr ? std::atol(ms) : 0, std::getenv(kLingerWritesVariable) != nullptr};
}

bool NoSpawnRequested() { return std::getenv(kNoSpawnVariable) != nullptr; }

unsigned long OwnProcessId() { return static_cast<unsigned long>(getpid()); }

void SleepMilliseconds(long ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

void RunUntilEnded() {
  for (;;) pause();
}

void ExitWith(int code) { _exit(code); }

}  // namespace standin
