; Runs the helper stop_running.exe (VELQA_HELPER, from the build) against
; DIRECTORY: CODE gets its exit code, OUTPUT what it printed. The helper
; prints UTF-16 with a byte-order mark, which nsExec reads as such whatever
; the system's ANSI code page.
!define VELQA_STOP_STOPPED 0
; Asked copies did not exit in time.
!define VELQA_STOP_STILL_RUNNING 1
; A copy runs in another user's session, out of reach of this one's tray.
!define VELQA_STOP_OTHER_SESSION 3

!macro VELQA_RUN_STOP_RUNNING DIRECTORY CODE OUTPUT
  InitPluginsDir
  File "/oname=$PLUGINSDIR\stop_running.exe" "${VELQA_HELPER}"
  ; "\." keeps a trailing backslash (a drive's root) from escaping the quote.
  nsExec::ExecToStack '"$PLUGINSDIR\stop_running.exe" "${DIRECTORY}\."'
  Pop ${CODE}
  Pop ${OUTPUT}
!macroend
