// The plug-in stand-ins only report that they were registered: one line
// "NAME registered with registrar HANDLE" (HANDLE as RegistrarText writes it,
// "NAME registered without registrar" for null) appended to the file named by
// the environment variable VELQA_PLUGIN_LOG, when it is set.
#ifndef VELQA_STANDINS_PLUGINS_PLUGIN_LOG_WIN_H_
#define VELQA_STANDINS_PLUGINS_PLUGIN_LOG_WIN_H_

namespace velqa::standin {

void LogPluginRegistration(const char* plugin_name, const void* registrar);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_PLUGINS_PLUGIN_LOG_WIN_H_
