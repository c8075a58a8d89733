; The Velqa电商助手 installer: a per-machine install into the 64-bit program
; files folder, Start-menu and desktop shortcuts, an entry in the list of
; installed programs, local crash dumps by Windows Error Reporting and an
; uninstaller. Built by CMake (target velqa_installer), which passes
; VELQA_BUILD_CONFIG with the version, the staged bundle, the generated list of
; its files and the helper stop_running.exe.
;
; Switches: /S silent, /D=DIR another install directory (last, unquoted).
; Exit codes of setup and of the registered uninstall commands: 0 done,
; 1 cancelled by the user (only with its window), 2 (setup) a file could not
; be written: setup stopped part-way and running it again completes the
; installation, 3 a running copy did not exit (nothing was changed), 4
; (uninstaller) some program files could not be removed.
;
; $INSTDIR\installed_files.txt (UTF-16LE, one relative path a line) names
; every file a setup put there. The next setup removes those it no longer
; ships, the uninstaller removes all of them; while a setup writes files, the
; list names both versions' files, so whatever a stopped setup leaves is
; found again by the next run.
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VELQA_BUILD_CONFIG
  !error "makensis -DVELQA_BUILD_CONFIG=<build>/package/build_config.nsh velqa_assistant.nsi"
!endif
!include "${VELQA_BUILD_CONFIG}"
!include "${VELQA_FILE_LIST}"
!addincludedir "${__FILEDIR__}"
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "stop_running.nsh"

!define PRODUCT_NAME "Velqa电商助手"
!define PUBLISHER "Velqa"
!define APP_EXE "velqa_assistant.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelqaAssistant"
!define SHORTCUT "${PRODUCT_NAME}.lnk"
!define FILE_LIST "installed_files.txt"
; Windows Error Reporting writes a dump of every crash it sees, also those
; that end through fail-fast and never reach the program's own reporter.
!define WER_KEY "SOFTWARE\Microsoft\Windows\Windows Error Reporting\LocalDumps\${APP_EXE}"
!define WEBVIEW_DATA "${APP_EXE}.WebView2"

Name "${PRODUCT_NAME}"
OutFile "${VELQA_SETUP_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT_NAME}"
BrandingText "${PRODUCT_NAME} ${VELQA_VERSION}"
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written stops the install (see .onInstFailed) rather
; than being skipped silently.
AllowSkipFiles off

!define MUI_ICON "${VELQA_ICON}"
!define MUI_UNICON "${VELQA_ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VELQA_VERSION_QUAD}"
VIFileVersion "${VELQA_VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VELQA_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VELQA_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Copyright (C) ${PUBLISHER}"

; Before any program file is written or removed: every running copy is asked
; to exit as its tray menu's "退出" does, and sing-box left running from
; $INSTDIR is ended. When that fails nothing has been touched yet, so the
; installer can stop with the old installation (or no folder) intact. The
; helper's exit code says which case it is; the texts are held here.
!macro STOP_RUNNING_COPIES
  DetailPrint "正在关闭运行中的 ${PRODUCT_NAME}……"
  !insertmacro VELQA_RUN_STOP_RUNNING "$INSTDIR" $0 $1
  DetailPrint "$1"
  ${If} $0 == ${VELQA_STOP_OTHER_SESSION}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} 正在其他用户的会话中运行，未能自动退出，操作已停止，未做任何更改。$\r$\n请该用户退出 ${PRODUCT_NAME}（或注销）后重试。$\r$\n$\r$\n$1" /SD IDOK
    SetErrorLevel 3
    Quit
  ${ElseIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} 正在运行，未能自动退出，操作已停止，未做任何更改。$\r$\n请在托盘图标的菜单中选择“退出”后重试。$\r$\n$\r$\n$1" /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
!macroend

; Removes the file $R1 (relative to $INSTDIR) and then each of its folders
; that is left empty; $R6 is set to 1 when the file stays.
!macro REMOVE_INSTALLED_FILE_FUNCTION UN
Function ${UN}RemoveInstalledFile
  Delete "$INSTDIR\$R1"
  ${If} ${FileExists} "$INSTDIR\$R1"
    StrCpy $R6 1
  ${EndIf}
  StrCpy $R2 $R1
  ${Do}
    ; $R2 becomes its own parent folder, "" at the top.
    StrLen $R3 $R2
    ${Do}
      IntOp $R3 $R3 - 1
      ${IfThen} $R3 < 0 ${|} ${ExitDo} ${|}
      StrCpy $R4 $R2 1 $R3
      ${IfThen} $R4 == "\" ${|} ${ExitDo} ${|}
    ${Loop}
    ${IfThen} $R3 <= 0 ${|} ${ExitDo} ${|}
    StrCpy $R2 $R2 $R3
    RMDir "$INSTDIR\$R2"
  ${Loop}
FunctionEnd
!macroend
!insertmacro REMOVE_INSTALLED_FILE_FUNCTION ""
!insertmacro REMOVE_INSTALLED_FILE_FUNCTION "un."

; $R5 = 1 when $R1 is a path below $INSTDIR: not absolute, no drive, no
; "..". The list lies in the install folder; were that folder one a standard
; user can write (/D), an edited list must not make the elevated setup delete
; files elsewhere.
!macro BELOW_INSTALL_FOLDER_FUNCTION UN
Function ${UN}BelowInstallFolder
  StrCpy $R5 0
  StrCpy $R2 $R1 1
  ${If} $R2 == "\"
  ${OrIf} $R2 == "/"
    Return
  ${EndIf}
  StrLen $R3 $R1
  StrCpy $R4 0
  ${DoWhile} $R4 < $R3
    StrCpy $R2 $R1 1 $R4
    ${IfThen} $R2 == ":" ${|} Return ${|}
    StrCpy $R2 $R1 2 $R4
    ${IfThen} $R2 == ".." ${|} Return ${|}
    IntOp $R4 $R4 + 1
  ${Loop}
  StrCpy $R5 1
FunctionEnd
!macroend
!insertmacro BELOW_INSTALL_FOLDER_FUNCTION ""
!insertmacro BELOW_INSTALL_FOLDER_FUNCTION "un."

; Calls RemoveInstalledFile for every file named in $INSTDIR\${FILE_LIST}
; (the installer: only for those this setup does not ship). $R6 is 1 when a
; file stays, or when there is no list.
!macro REMOVE_LISTED_FUNCTION UN
Function ${UN}RemoveListed
  StrCpy $R6 0
  ClearErrors
  FileOpen $R0 "$INSTDIR\${FILE_LIST}" r
  ${If} ${Errors}
    StrCpy $R6 1
    Return
  ${EndIf}
  ${Do}
    ClearErrors
    FileReadUTF16LE $R0 $R1
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ; Without the line end.
    ${Do}
      StrCpy $R2 $R1 1 -1
      ${If} $R2 == "$\r"
      ${OrIf} $R2 == "$\n"
        StrCpy $R1 $R1 -1
      ${Else}
        ${ExitDo}
      ${EndIf}
    ${Loop}
    ${IfThen} $R1 == "" ${|} ${Continue} ${|}
    Call ${UN}BelowInstallFolder
    ${IfThen} $R5 != 1 ${|} ${Continue} ${|}
!if "${UN}" == ""
    Call IsShipped
    ${IfThen} $R5 == 1 ${|} ${Continue} ${|}
!endif
    Call ${UN}RemoveInstalledFile
  ${Loop}
  FileClose $R0
FunctionEnd
!macroend
!insertmacro REMOVE_LISTED_FUNCTION ""
!insertmacro REMOVE_LISTED_FUNCTION "un."

; $R5 = 1 when this setup ships the file $R1 (letter case ignored).
Function IsShipped
  StrCpy $R5 1
  !insertmacro VELQA_SHIPPED_FILES_COMPARE $R1 shipped
  StrCpy $R5 0
  shipped:
FunctionEnd

; Writes $INSTDIR\${FILE_LIST}: with APPEND_OLD, the files the list names now
; followed by this setup's, else this setup's alone. Written beside and then
; moved, so a list is always whole. The error flag is set when it fails.
!macro WRITE_FILE_LIST APPEND_OLD
  ClearErrors
  FileOpen $R0 "$INSTDIR\${FILE_LIST}.new" w
  ${IfNot} ${Errors}
!if "${APPEND_OLD}" == "1"
    ${If} ${FileExists} "$INSTDIR\${FILE_LIST}"
      FileOpen $R1 "$INSTDIR\${FILE_LIST}" r
      ${Do}
        ClearErrors
        FileReadUTF16LE $R1 $R2
        ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
        FileWriteUTF16LE $R0 $R2
      ${Loop}
      FileClose $R1
      ; A last line without its end.
      FileWriteUTF16LE $R0 "$\r$\n"
    ${EndIf}
!endif
    ClearErrors
    !insertmacro VELQA_WRITE_SHIPPED_FILES $R0
    FileClose $R0
    ${IfNot} ${Errors}
      Delete "$INSTDIR\${FILE_LIST}"
      Rename "$INSTDIR\${FILE_LIST}.new" "$INSTDIR\${FILE_LIST}"
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext all
  ; An upgrade goes where the installed version is, unless /D names a place.
  ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT_NAME}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "-${PRODUCT_NAME}" SEC_PROGRAM
  !insertmacro STOP_RUNNING_COPIES

  SetOutPath "$INSTDIR"
  ; A version from before the list cannot say what it installed: its Flutter
  ; assets are replaced as a whole, so none of them outlives it.
  ${IfNot} ${FileExists} "$INSTDIR\${FILE_LIST}"
  ${AndIf} ${FileExists} "$INSTDIR\${APP_EXE}"
    RMDir /r "$INSTDIR\data\flutter_assets"
  ${EndIf}
  ; From here until the stale files are gone the list names both versions'
  ; files: a setup stopped by a file it cannot write (see .onInstFailed)
  ; leaves a folder whose every program file the list names.
  !insertmacro WRITE_FILE_LIST 1
  ${If} ${Errors}
    DetailPrint "无法写入 $INSTDIR\${FILE_LIST}"
    Abort
  ${EndIf}
  File /r "${VELQA_STAGE_DIR}/*"
  ; What the previous version installed and this one no longer ships.
  Call RemoveListed
  !insertmacro WRITE_FILE_LIST 0
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The shortcuts start the program in its folder, with its icon.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VELQA_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; "_?=" makes the uninstaller run in place instead of handing over to a
  ; copy of itself and returning at once: whoever runs these commands waits
  ; for the uninstall and gets its exit code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SEC_PROGRAM} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  SetRegView 64
  WriteRegExpandStr HKLM "${WER_KEY}" "DumpFolder" "$INSTDIR\logs"
  WriteRegDWORD HKLM "${WER_KEY}" "DumpCount" 5
  WriteRegDWORD HKLM "${WER_KEY}" "DumpType" 1
  SetRegView default
SectionEnd

; A file could not be written (AllowSkipFiles off stops there). The old
; version's files that were not yet replaced are still there, the list names
; both versions' files and the old uninstaller and registration stay, so
; running setup again writes what is missing and removes what is stale.
Function .onInstFailed
  MessageBox MB_OK|MB_ICONSTOP "安装未完成：有文件无法写入，$INSTDIR 中的程序文件不完整。$\r$\n请关闭占用这些文件的程序后重新运行安装程序，它会补全安装。" /SD IDOK
FunctionEnd

Function un.onInit
  SetShellVarContext all
  ; Started by an uninstaller that ran in place (see below) with
  ; /REMOVE_AFTER=PID: once that process has ended, its file and then the
  ; folder, if that is left empty, are removed; nothing else is done.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVE_AFTER=" $R1
  ${IfNot} ${Errors}
    IntOp $R1 $R1 + 0
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i R1) p .R2'
    ${If} $R2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p R2, i 60000)'
      System::Call 'kernel32::CloseHandle(p R2)'
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    Delete /REBOOTOK "$EXEPATH"
    SetErrorLevel 0
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro STOP_RUNNING_COPIES

  Call un.RemoveListed
  StrCpy $0 $R6
  Delete "$INSTDIR\${FILE_LIST}"
  ; Run in place (the registered commands pass "_?=" so that their caller
  ; waits for the work and gets its exit code), this program cannot delete
  ; its own file: a copy of it in the temporary folder does that once this
  ; process has ended, and then removes the folder if nothing is left in it.
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    GetTempFileName $1
    Delete $1
    CopyFiles /SILENT "$EXEPATH" "$1.exe"
    System::Call 'kernel32::GetCurrentProcessId() i .r2'
    Exec '"$1.exe" /S /REMOVE_AFTER=$2 _?=$INSTDIR'
  ${EndIf}
  ; What the web view made beside the executable when it was given no other
  ; folder for its data.
  RMDir /r "$INSTDIR\${WEBVIEW_DATA}"
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "部分程序文件无法删除，请稍后手动删除 $INSTDIR 中的文件。" /SD IDOK
    SetErrorLevel 4
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetRegView 64
  DeleteRegKey HKLM "${WER_KEY}"
  SetRegView default

  ${If} ${FileExists} "$INSTDIR\logs\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION "是否保留日志文件（$INSTDIR\logs）？" /SD IDYES IDYES keep_logs
    RMDir /r "$INSTDIR\logs"
    keep_logs:
  ${EndIf}
  ; Removed only when nothing else is left in it.
  RMDir "$INSTDIR"
SectionEnd
