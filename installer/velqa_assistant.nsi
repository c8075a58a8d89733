; The Velqa电商助手 installer: a per-machine install into the 64-bit program
; files folder, Start-menu and desktop shortcuts, an entry in the list of
; installed programs and an uninstaller. Built by CMake (target
; velqa_installer), which passes VELQA_BUILD_CONFIG with the version, the
; staged bundle, the list of its files and the helper stop_running.exe.
;
; Switches: /S silent, /D=DIR another install directory (last, unquoted).
; Exit codes: 0 done, 2 cancelled or a file could not be written, 3 a running
; copy did not exit (nothing was changed), 4 (uninstaller) some program files
; could not be removed.
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VELQA_BUILD_CONFIG
  !error "makensis -DVELQA_BUILD_CONFIG=<build>/package/build_config.nsh velqa_assistant.nsi"
!endif
!include "${VELQA_BUILD_CONFIG}"
!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT_NAME "Velqa电商助手"
!define PUBLISHER "Velqa"
!define APP_EXE "velqa_assistant.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelqaAssistant"
!define HELPER "stop_running.exe"
!define SHORTCUT "${PRODUCT_NAME}.lnk"

Name "${PRODUCT_NAME}"
OutFile "${VELQA_SETUP_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT_NAME}"
BrandingText "${PRODUCT_NAME} ${VELQA_VERSION}"
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written stops the install instead of leaving a mix of
; old and new files.
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
; installer can stop with the old installation (or no folder) intact.
!macro STOP_RUNNING_COPIES
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${HELPER}" "${VELQA_HELPER}"
  DetailPrint "正在关闭运行中的 ${PRODUCT_NAME}……"
  ; "\." keeps a trailing backslash (a drive's root) from escaping the quote.
  nsExec::ExecToStack '"$PLUGINSDIR\${HELPER}" "$INSTDIR\."'
  Pop $0
  Pop $1
  DetailPrint "$1"
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} 正在运行，未能自动退出，操作已停止，未做任何更改。$\r$\n请在托盘图标的菜单中选择“退出”后重试。$\r$\n$\r$\n$1" /SD IDOK
    SetErrorLevel 3
    Quit
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
  File /r "${VELQA_STAGE_DIR}/*"
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
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SEC_PROGRAM} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro STOP_RUNNING_COPIES

  ClearErrors
  !include "${VELQA_FILE_LIST}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "部分程序文件无法删除，请稍后手动删除 $INSTDIR 中的文件。" /SD IDOK
    SetErrorLevel 4
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${If} ${FileExists} "$INSTDIR\logs\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION "是否保留日志文件（$INSTDIR\logs）？" /SD IDYES IDYES keep_logs
    RMDir /r "$INSTDIR\logs"
    keep_logs:
  ${EndIf}
  ; Removed only when nothing else is left in it.
  RMDir "$INSTDIR"
SectionEnd
