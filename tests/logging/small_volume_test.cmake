# Runs the full-volume cases of the Windows logger tests under Wine on a small
# tmpfs, which a Windows program cannot mount itself: mounts one as a scratch
# install directory (not as "logs": Wine shows a mount point as a reparse
# point, which the logger refuses as a link), names that directory in
# VELQA_SMALL_VOLUME_INSTALL, runs the cases, unmounts. Prints SKIPPED when
# mounting is not permitted here.
# Arguments: TESTS (built test program), WORK (scratch directory), RUNNER (emulator).
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND umount -l "${WORK}/install" OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/install")
execute_process(COMMAND mount -t tmpfs -o size=256k tmpfs "${WORK}/install"
                RESULT_VARIABLE mounted OUTPUT_QUIET ERROR_QUIET)
if(NOT mounted EQUAL 0)
  message("SKIPPED: mounting a tmpfs is not permitted here")
  return()
endif()
file(MAKE_DIRECTORY "${WORK}/install/logs")
string(REPLACE "/" "\\" windows_path "Z:${WORK}/install")
set(ENV{VELQA_SMALL_VOLUME_INSTALL} "${windows_path}")
execute_process(COMMAND ${RUNNER} "${TESTS}" "--gtest_filter=FullVolumeTest.*"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
execute_process(COMMAND umount -l "${WORK}/install")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 1 test")
  message(FATAL_ERROR "full-volume cases failed (${rc}):\n${out}\n${err}")
endif()
message("${out}")
