# velqa_nlohmann_json: Debian's header-only nlohmann-json (nlohmann-json3-dev)
# for the stand-ins. The native build takes the package's own CMake target. A
# cross compiler must not search the host's /usr/include (its C library
# headers would shadow the target's), so the cross build sees the package's
# header folder alone, through a link in the build tree.
set(VELQA_NLOHMANN_JSON_DIR "/usr/include/nlohmann" CACHE PATH
    "The folder holding nlohmann/json.hpp's headers, for cross builds")

add_library(velqa_nlohmann_json INTERFACE)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3.9 REQUIRED CONFIG)
  target_link_libraries(velqa_nlohmann_json INTERFACE nlohmann_json::nlohmann_json)
  return()
endif()

if(NOT EXISTS "${VELQA_NLOHMANN_JSON_DIR}/json.hpp")
  message(FATAL_ERROR
    "${VELQA_NLOHMANN_JSON_DIR}/json.hpp not found: install nlohmann-json3-dev")
endif()
set(forward_dir "${CMAKE_BINARY_DIR}/nlohmann_json_include")
file(MAKE_DIRECTORY "${forward_dir}")
file(CREATE_LINK "${VELQA_NLOHMANN_JSON_DIR}" "${forward_dir}/nlohmann" SYMBOLIC)
target_include_directories(velqa_nlohmann_json SYSTEM INTERFACE "${forward_dir}")
