; Runs the installer's helper against its own folder exactly as setup does
; and writes the exit code and the text setup got, UTF-16LE, into output.txt
; beside itself: what the blocking message would show.
; makensis -DVELQA_HELPER=stop_running.exe -DVELQA_INSTALLER_DIR=<installer/> -DOUT=probe.exe
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SilentInstall silent
OutFile "${OUT}"
!addincludedir "${VELQA_INSTALLER_DIR}"
!include "stop_running.nsh"

Section
  !insertmacro VELQA_RUN_STOP_RUNNING "$EXEDIR" $0 $1
  FileOpen $2 "$EXEDIR\output.txt" w
  FileWriteUTF16LE $2 "$0$\n$1"
  FileClose $2
SectionEnd
