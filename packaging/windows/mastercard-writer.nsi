; The Windows edition's installer: the program, its Start-menu entry, the
; README, an uninstaller and the entry "Apps & features" lists it under.
; makensis is given PROGRAM, README, VERSION and OUTFILE (see CMakeLists.txt).
; A 64-bit installer: the default 32-bit stub installs nothing under 64-bit
; Wine, and the program is a 64-bit one.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "RS232 Master-Card Generator"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MastercardWriter"
!define SHORTCUT "$SMPROGRAMS\RS232接口母卡生成程序V1.0.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\MastercardWriter"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Program"
  SetOutPath "$INSTDIR"
  File "/oname=mastercard-writer.exe" "${PROGRAM}"
  File "/oname=README.md" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The icon is the program's own, resource 1 of its executable.
  CreateShortcut "${SHORTCUT}" "$INSTDIR\mastercard-writer.exe" "" "$INSTDIR\mastercard-writer.exe" 0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mastercard-writer.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\mastercard-writer.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: the switch file and a traffic log an operator put
  ; there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
