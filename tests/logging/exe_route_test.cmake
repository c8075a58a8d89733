# Copies the probe into directories the logger must handle and runs it there:
#   - below "张三/Velqa电商助手": logs/velqa_<date>.log appears beside the copy
#     and holds the records, with the Chinese path written as UTF-8;
#   - below a directory so deep that the executable's path is longer than 260
#     characters: Initialize reports the unknown install directory;
#   - under Wine, at the root of a drive letter mapped to a scratch directory:
#     the logs go to V:\logs, not to the drive-relative V:logs.
# Arguments: PROBE (built probe), WORK (scratch directory), RUNNER (emulator or empty).
cmake_minimum_required(VERSION 3.25)

get_filename_component(probe_name "${PROBE}" NAME)
file(REMOVE_RECURSE "${WORK}")

# Copies the probe into `dir` and runs it there; an optional last argument is
# the path the runner starts it by instead.
function(run_probe dir out_rc out_stdout out_stderr)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${PROBE}" "${dir}/${probe_name}")
  set(command "${dir}/${probe_name}")
  if(ARGC GREATER 4)
    set(command "${ARGV4}")
  endif()
  if(RUNNER)
    set(command "${RUNNER}" "${command}")
  endif()
  execute_process(COMMAND ${command} WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  set(${out_rc} "${rc}" PARENT_SCOPE)
  set(${out_stdout} "${stdout}" PARENT_SCOPE)
  set(${out_stderr} "${stderr}" PARENT_SCOPE)
endfunction()

# The one day file in `dir`/logs, read into `out_content`.
function(read_day_file dir out_content)
  file(GLOB logs "${dir}/logs/velqa_*.log")
  list(LENGTH logs count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one day file in ${dir}/logs, found: ${logs}")
  endif()
  file(READ "${logs}" content)
  set(${out_content} "${content}" PARENT_SCOPE)
endfunction()

# Chinese install directory.
set(chinese "${WORK}/张三/Velqa电商助手")
run_probe("${chinese}" rc stdout stderr)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "probe in ${chinese} failed (${rc}):\n${stdout}\n${stderr}")
endif()
read_day_file("${chinese}" content)
foreach(expected "[NativeLogger] [I] NativeLogger初始化成功" "[Probe] [I] 探针记录"
                 "日志文件路径: " "张三" "Velqa电商助手" "日志清理完成: 删除了 0 个文件")
  string(FIND "${content}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "log file lacks '${expected}':\n${content}")
  endif()
endforeach()
string(FIND "${stdout}" "[NativeLogger] before initialize" at)
if(at EQUAL -1)
  message(FATAL_ERROR "short form missing on standard output:\n${stdout}")
endif()
if(NOT stderr STREQUAL "")
  message(FATAL_ERROR "unexpected standard error:\n${stderr}")
endif()

# An executable path of more than 260 characters.
set(deep "${WORK}/deep")
foreach(i RANGE 1 7)
  string(APPEND deep "/directory_with_a_long_name_${i}_xxxxxxxxxxxx")
endforeach()
run_probe("${deep}" rc stdout stderr)
if(NOT rc EQUAL 3)
  message(FATAL_ERROR "probe in deep directory returned ${rc}:\n${stdout}\n${stderr}")
endif()
string(FIND "${stderr}" "NativeLogger: 无法获取安装目录" at)
if(at EQUAL -1)
  message(FATAL_ERROR "expected the install-directory failure, got:\n${stderr}")
endif()
if(EXISTS "${deep}/logs")
  message(FATAL_ERROR "logs directory created despite the unknown install directory")
endif()
string(FIND "${stdout}" "[NativeLogger] 探针记录" at)
if(at EQUAL -1)
  message(FATAL_ERROR "records after the failure must still reach standard output:\n${stdout}")
endif()

# An executable at a drive root. Under Wine a drive letter of the test's own
# prefix is pointed at a scratch directory for the run.
if(RUNNER)
  if(DEFINED ENV{WINEPREFIX})
    set(prefix "$ENV{WINEPREFIX}")
  else()
    get_filename_component(prefix "${RUNNER}/../../build/wineprefix" ABSOLUTE)
  endif()
  set(drive_root "${WORK}/drive_root")
  set(drive "${prefix}/dosdevices/v:")
  file(REMOVE "${drive}")
  file(MAKE_DIRECTORY "${drive_root}")
  file(CREATE_LINK "${drive_root}" "${drive}" SYMBOLIC)
  run_probe("${drive_root}" rc stdout stderr "V:\\${probe_name}")
  file(REMOVE "${drive}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "probe at the root of V: failed (${rc}):\n${stdout}\n${stderr}")
  endif()
  read_day_file("${drive_root}" content)
  string(TOLOWER "${content}" content)
  string(FIND "${content}" "日志文件路径: v:\\logs\\velqa_" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the log file is not named V:\\logs\\...:\n${content}")
  endif()
endif()

file(REMOVE_RECURSE "${WORK}")
