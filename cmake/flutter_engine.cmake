# The embedding and plug-in libraries the Windows executables link:
#   velqa_flutter_engine  the stand-in flutter_windows.dll (standins/), or the
#                         real one from VELQA_FLUTTER_ENGINE_DIR
#   velqa_plugins         the two plug-in stand-ins, or the real ones from
#                         VELQA_FLUTTER_PLUGINS_DIR
# A real library is used through its import library (NAME.dll.lib) and copied
# into bin/ beside the executables. velqa_channel itself links no engine.
set(VELQA_FLUTTER_PLUGINS_DIR "" CACHE PATH
    "Directory holding real url_launcher_windows_plugin.dll and webview_windows_plugin.dll with their import libraries; empty builds the stand-ins")

# velqa_import_dll(TARGET DIR NAME): an imported DLL DIR/NAME.dll with its
# import library DIR/NAME.dll.lib, copied into bin/.
function(velqa_import_dll target dir name)
  set(dll "${dir}/${name}.dll")
  set(lib "${dir}/${name}.dll.lib")
  foreach(file IN ITEMS "${dll}" "${lib}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${file} not found")
    endif()
  endforeach()
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${dll}" IMPORTED_IMPLIB "${lib}")
  file(COPY "${dll}" DESTINATION "${CMAKE_BINARY_DIR}/bin")
endfunction()

if(WIN32)
  add_library(velqa_flutter_engine INTERFACE)
  if(VELQA_FLUTTER_ENGINE_DIR)
    velqa_import_dll(velqa_flutter_windows_imported "${VELQA_FLUTTER_ENGINE_DIR}" flutter_windows)
    target_link_libraries(velqa_flutter_engine INTERFACE velqa_flutter_windows_imported)
  else()
    target_link_libraries(velqa_flutter_engine INTERFACE flutter_windows)
  endif()

  add_library(velqa_plugins INTERFACE)
  if(VELQA_FLUTTER_PLUGINS_DIR)
    velqa_import_dll(velqa_url_launcher_imported "${VELQA_FLUTTER_PLUGINS_DIR}"
                     url_launcher_windows_plugin)
    velqa_import_dll(velqa_webview_imported "${VELQA_FLUTTER_PLUGINS_DIR}" webview_windows_plugin)
    target_link_libraries(velqa_plugins INTERFACE velqa_url_launcher_imported
                                                  velqa_webview_imported)
  else()
    target_link_libraries(velqa_plugins INTERFACE url_launcher_windows_plugin
                                                  webview_windows_plugin)
  endif()
endif()
