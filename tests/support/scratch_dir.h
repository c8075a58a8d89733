// A fresh folder below the system's temporary folder, removed with the
// object. Its name may hold any Unicode text (given as UTF-8).
//
// Threads: any thread; one object is used by one thread at a time.
#ifndef VELQA_TESTS_SUPPORT_SCRATCH_DIR_H_
#define VELQA_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <filesystem>
#include <string>

namespace vpn_test {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& utf8_name = "velqa test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Creates a file (and its folders) below the scratch folder.
  std::filesystem::path WriteFile(const std::filesystem::path& relative,
                                  const std::string& content = "x") const;
  // The same for a name given as UTF-8; the file's path as UTF-8, as a
  // configuration path is handed to the manager.
  std::string Write(const std::string& utf8_name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_SCRATCH_DIR_H_
