; The Windows installer of ornat (makensis, from the Release cross-build's staged files):
; ornat.exe and ornat-cli.exe with the serial port's catalogues, the README and the
; licence under Program Files (64-bit), a Start-menu folder "ornat" (the window, the
; README, the uninstaller), and an uninstaller registered in Add/Remove Programs.
; "setup.exe /S" installs silently (into /D=FOLDER if given), "uninstall.exe /S" removes
; everything again.
;
; makensis -DVERSION=1.3.0 -DSTAGE=<staged folder> -DOUTFILE=<setup.exe> -DICON=<.ico> ornat.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | STAGE | OUTFILE | ICON
  !error "VERSION, STAGE, OUTFILE and ICON must be defined"
!endif

!define PRODUCT "ornat"
!define PUBLISHER "ornat"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ornat"

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ornat"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "ornat ${VERSION} setup: service tool for ORNAT(-2)-Zev flame detectors"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT licence"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\ornat.exe"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "ornat ${VERSION} needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "ornat"
  SetOutPath "$INSTDIR"
  File "${STAGE}\ornat.exe"
  File "${STAGE}\ornat-cli.exe"
  File "${STAGE}\README.html"
  File "${STAGE}\LICENSE.txt"
  SetOutPath "$INSTDIR\locale"
  File /r "${STAGE}\locale\*.mo"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start-menu folder, for every user of the machine.
  SetShellVarContext all
  Delete "$SMPROGRAMS\ornat.lnk"  ; an earlier installer's single entry
  CreateDirectory "$SMPROGRAMS\ornat"
  CreateShortcut "$SMPROGRAMS\ornat\ornat.lnk" "$INSTDIR\ornat.exe" "" "$INSTDIR\ornat.exe" 0 \
    SW_SHOWNORMAL "" "Service tool for ORNAT(-2)-Zev flame detectors"
  CreateShortcut "$SMPROGRAMS\ornat\ornat README.lnk" "$INSTDIR\README.html" "" "" 0 \
    SW_SHOWNORMAL "" "How to install and use ornat on Windows"
  CreateShortcut "$SMPROGRAMS\ornat\Uninstall ornat.lnk" "$INSTDIR\uninstall.exe" "" \
    "$INSTDIR\uninstall.exe" 0 SW_SHOWNORMAL "" "Remove ornat from this computer"

  ; Add/Remove Programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ornat.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\ornat.exe"
  Delete "$INSTDIR\ornat-cli.exe"
  Delete "$INSTDIR\README.html"
  Delete "$INSTDIR\LICENSE.txt"
  ; The catalogues' folder is the program's own.
  RMDir /r "$INSTDIR\locale"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: a journal the user kept in the folder stays.
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\ornat\ornat.lnk"
  Delete "$SMPROGRAMS\ornat\ornat README.lnk"
  Delete "$SMPROGRAMS\ornat\Uninstall ornat.lnk"
  RMDir "$SMPROGRAMS\ornat"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
