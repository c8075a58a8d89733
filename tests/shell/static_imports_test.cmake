# The program runs elevated, also from a folder a standard user can write to.
# The loader looks for a statically imported library beside the executable
# first unless it is a KnownDLL (or an API set, which the loader resolves
# itself), so every other import could be a planted copy. Only the engine and
# the plug-ins, which ship beside the executable by design, may be imported
# besides; anything else must be loaded at run time from System32.
# Arguments: EXE (the built program), OBJDUMP (the toolchain's objdump).
cmake_minimum_required(VERSION 3.25)

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows
# 10 and 11 (x64), and ntdll.dll, which every process has loaded first.
set(known_dlls
  advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
  msctf msvcrt normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore
  shell32 shlwapi user32 wldap32 wow64 wow64cpu wow64win ws2_32)
set(shipped flutter_windows url_launcher_windows_plugin webview_windows_plugin)

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" RESULT_VARIABLE rc OUTPUT_VARIABLE dump)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed (${rc})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
set(bad)
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(name IN_LIST known_dlls OR name IN_LIST shipped OR name MATCHES "^(api|ext)-ms-")
    continue()
  endif()
  list(APPEND bad "${dll}")
endforeach()
if(bad)
  message(FATAL_ERROR "${EXE} imports libraries that are not KnownDLLs: ${bad}; load them "
                      "with base::LoadSystemLibrary instead")
endif()
message(STATUS "imports: ${imports}")
