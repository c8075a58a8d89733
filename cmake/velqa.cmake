# Project-wide build helpers: warnings, platform source selection, tests.

function(velqa_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()

# A Windows program entered at wmain or wWinMain: GCC's MinGW linker has to be
# told (-municode); MSVC's linker picks the wide entry point by itself.
function(velqa_wide_entry target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# Collects the .cpp files below DIR for this platform: files ending in
# _win.cpp build only for Windows, files ending in _posix.cpp only elsewhere.
function(velqa_platform_sources out dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# Adds every immediate sub-directory of the current source directory that has
# its own CMakeLists.txt, so each area owns its build rules.
function(velqa_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY "${child}" AND EXISTS "${child}/CMakeLists.txt")
      add_subdirectory("${child}")
    endif()
  endforeach()
endfunction()

# velqa_add_test(NAME name SOURCES a.cpp ... [LIBS lib ...] [TIMEOUT seconds]
#                [RESOURCE_LOCK lock ...])
# One GoogleTest executable; its cases become CTest tests, discovered just
# before the run (under Wine the first start is slow). The GoogleTest headers
# are precompiled: they dominate the build time of every test file.
function(velqa_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velqa_gtest_main)
  target_include_directories(${T_NAME} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_precompile_headers(${T_NAME} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  velqa_warnings(${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 300
    PROPERTIES TIMEOUT ${T_TIMEOUT}
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
  if(T_RESOURCE_LOCK)
    velqa_test_locks(${T_NAME} ${T_RESOURCE_LOCK})
  endif()
endfunction()

# velqa_test_locks(target lock ...): every test discovered in the GoogleTest
# executable `target` holds all these locks. (gtest_discover_tests' PROPERTIES
# splits a list value and would keep only the first lock.) Call it after
# gtest_discover_tests: the script runs after the discovered tests exist.
function(velqa_test_locks target)
  string(JOIN ";" locks ${ARGN})
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_locks.cmake")
  file(WRITE "${script}"
    "if(${target}_TESTS)\n"
    "  set_tests_properties(\${${target}_TESTS} PROPERTIES RESOURCE_LOCK \"${locks}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# velqa_add_library(NAME name [DEPS target ...]): a static library of this
# directory's platform sources (see velqa_platform_sources); the repository root
# is the include root, so headers are included as "area/file.h".
function(velqa_add_library)
  cmake_parse_arguments(L "" "NAME" "DEPS" ${ARGN})
  velqa_platform_sources(srcs "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT srcs)
    message(STATUS "${L_NAME}: no sources yet")
    return()
  endif()
  add_library(${L_NAME} STATIC ${srcs})
  target_include_directories(${L_NAME} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${L_NAME} PUBLIC ${L_DEPS})
  velqa_warnings(${L_NAME})
endfunction()
