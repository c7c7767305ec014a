; The Windows installer of the launcher: a per-user install, without
; administrator rights, into %LOCALAPPDATA%\Programs\<name>\, with a
; Start-menu entry, a desktop shortcut and an uninstaller that Windows'
; list of programs knows. The build gives the settings in the file that
; DEFINES names (see cmake/installer.cmake); /S installs silently.
Unicode true
Target amd64-unicode
!include "${DEFINES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_NAME}"

Name "${APP_TITLE}"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP_NAME}"
SetCompressor /SOLID lzma
ManifestDPIAware true

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "/oname=${APP_NAME}.exe" "${APP_EXE}"
  File "/oname=${APP_NAME}.ico" "${APP_ICO}"
  File "/oname=copyright.txt" "${COPYRIGHT_TXT}"
  File "${FETCH_EXE}"
  File "${UNZIP_EXE}"
!ifdef VERIFY_EXE
  File "${VERIFY_EXE}"
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcuts start in the install directory ($OUTDIR).
  CreateShortCut "$SMPROGRAMS\${APP_TITLE}.lnk" "$INSTDIR\${APP_NAME}.exe" "" "$INSTDIR\${APP_NAME}.ico"
  CreateShortCut "$DESKTOP\${APP_TITLE}.lnk" "$INSTDIR\${APP_NAME}.exe" "" "$INSTDIR\${APP_NAME}.ico"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_NAME}.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: the launcher's data directory
; (%LOCALAPPDATA%\<name>\) and anything else in the install directory are
; the user's, and the directory goes only when it is empty.
Section "Uninstall"
  Delete "$INSTDIR\${APP_NAME}.exe"
  Delete "$INSTDIR\${APP_NAME}.ico"
  Delete "$INSTDIR\copyright.txt"
  Delete "$INSTDIR\${FETCH_NAME}"
  Delete "$INSTDIR\${UNZIP_NAME}"
!ifdef VERIFY_NAME
  Delete "$INSTDIR\${VERIFY_NAME}"
!endif
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_TITLE}.lnk"
  Delete "$DESKTOP\${APP_TITLE}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
