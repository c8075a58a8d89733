// The record from which the engine is built: where it finds its assets, ICU
// data and compiled Dart code, and what the Dart entry function receives.
// Plain data; the owner keeps it alive for as long as the engine wrapper is
// being constructed (the host keeps it for the life of its window).
#ifndef VELQA_CHANNEL_ENGINE_PROJECT_H_
#define VELQA_CHANNEL_ENGINE_PROJECT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace flutter {

struct EngineProject {
  // Paths are handed to the engine unchanged; a relative path is resolved by
  // the engine against the directory of the executable.
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  // Empty selects the engine's default entry function.
  std::string entrypoint;
  // UTF-8, in order.
  std::vector<std::string> entrypoint_arguments;
  // Engine options that nothing here sets; passed through as they are.
  int32_t first_option = 0;
  int32_t second_option = 0;

  // The layout of a Flutter Windows bundle: BASE\flutter_assets,
  // BASE\icudtl.dat and BASE\app.so.
  static EngineProject FromDataDirectory(const std::wstring& base) {
    EngineProject project;
    project.assets_path = base + L"\\flutter_assets";
    project.icu_data_path = base + L"\\icudtl.dat";
    project.aot_library_path = base + L"\\app.so";
    return project;
  }
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_ENGINE_PROJECT_H_
