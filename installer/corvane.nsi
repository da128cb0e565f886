; CorvaneSetup.exe: installs Corvane for the current user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Corvane, and registers its libraries per user for the bitness of the
; user's Excel (both when that cannot be told). Built by the Windows build's corvane_setup target:
;   makensis -DVERSION=1.0 -DWIN64_DIR=... -DWIN32_DIR=... -DSOURCE_DIR=... -DOUTFILE=... corvane.nsi
; /S installs silently; an installation already there is uninstalled first, keeping the settings.
Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"
; Where the add-in keeps its options and calibration data (platform/win32/registry_store.h).
!define SETTINGS_KEY "Software\VB and VBA Program Settings\Corvane"

Name "Corvane"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Corvane"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey ProductName "Corvane"
VIAddVersionKey FileDescription "Corvane setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "Corvane"

!define MUI_ICON "${SOURCE_DIR}\resources\corvane.ico"
!define MUI_UNICON "${SOURCE_DIR}\resources\corvane.ico"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Want64
Var Want32

; Excel of one registry view (64 or 32) and Office version: Office states its bitness under
; Outlook's key; an Excel install root seen in a view is Excel of that view's bitness.
!macro FindExcel view version
  SetRegView ${view}
  ReadRegStr $0 HKLM "Software\Microsoft\Office\${version}\Outlook" "Bitness"
  ReadRegStr $1 HKCU "Software\Microsoft\Office\${version}\Outlook" "Bitness"
  StrCpy $0 "$0$1"
  ${If} $0 == "x64"
    StrCpy $Want64 1
  ${ElseIf} $0 == "x86"
    StrCpy $Want32 1
  ${EndIf}
  ReadRegStr $0 HKLM "Software\Microsoft\Office\${version}\Excel\InstallRoot" "Path"
  ${If} $0 != ""
    StrCpy $Want${view} 1
  ${EndIf}
!macroend

Function FindExcelBitness
  StrCpy $Want64 ""
  StrCpy $Want32 ""
  ${IfNot} ${RunningX64}
    StrCpy $Want32 1
    Return
  ${EndIf}
  !insertmacro FindExcel 64 16.0
  !insertmacro FindExcel 32 16.0
  !insertmacro FindExcel 64 15.0
  !insertmacro FindExcel 32 15.0
  !insertmacro FindExcel 64 14.0
  !insertmacro FindExcel 32 14.0
  ; Click-to-Run Office names its platform.
  SetRegView 64
  ReadRegStr $0 HKLM "Software\Microsoft\Office\ClickToRun\Configuration" "Platform"
  ${If} $0 == "x64"
    StrCpy $Want64 1
  ${ElseIf} $0 == "x86"
    StrCpy $Want32 1
  ${EndIf}
  SetRegView default
  ; In doubt, both: Excel loads only the one of its own bitness.
  ${If} "$Want64$Want32" == ""
    StrCpy $Want64 1
    StrCpy $Want32 1
  ${EndIf}
FunctionEnd

; regsvr32 of the library's bitness ($SYSDIR is the 64-bit one while redirection is off).
!macro Regsvr64 arguments dll
  ${DisableX64FSRedirection}
  ExecWait '"$SYSDIR\regsvr32.exe" /s ${arguments} "${dll}"' $0
  ${EnableX64FSRedirection}
!macroend
!macro Regsvr32 arguments dll
  ExecWait '"$SYSDIR\regsvr32.exe" /s ${arguments} "${dll}"' $0
!macroend

!macro InstallBitness bits folder
  SetOutPath "$INSTDIR\${folder}"
  File "${WIN${bits}_DIR}\Corvane.dll"
  File "${WIN${bits}_DIR}\CorvaneRibbon.dll"
  File "${WIN${bits}_DIR}\corvane.chm"
  ; The ribbon add-in uses Corvane.dll: the library first.
  !insertmacro Regsvr${bits} "/n /i:user" "$INSTDIR\${folder}\Corvane.dll"
  ${If} $0 == 0
    !insertmacro Regsvr${bits} "/n /i:user" "$INSTDIR\${folder}\CorvaneRibbon.dll"
  ${EndIf}
  ${If} $0 != 0
    MessageBox MB_ICONSTOP "Corvane's ${bits}-bit libraries could not be registered (regsvr32 exit code $0)." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

!macro UninstallBitness bits folder
  ${If} ${FileExists} "$INSTDIR\${folder}\Corvane.dll"
    !insertmacro Regsvr${bits} "/u /n /i:user" "$INSTDIR\${folder}\CorvaneRibbon.dll"
    !insertmacro Regsvr${bits} "/u /n /i:user" "$INSTDIR\${folder}\Corvane.dll"
  ${EndIf}
  Delete "$INSTDIR\${folder}\CorvaneRibbon.dll"
  Delete "$INSTDIR\${folder}\Corvane.dll"
  Delete "$INSTDIR\${folder}\corvane.chm"
  RMDir "$INSTDIR\${folder}"
!macroend

Section "Corvane"
  SetShellVarContext current
  ; An earlier installation goes first, wherever it is, so that one remains: its uninstaller,
  ; run in place and silently, unregisters and removes what it put there and keeps the settings.
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\Uninstall.exe"
    DetailPrint "Removing the earlier installation in $1"
    ExecWait '"$1\Uninstall.exe" /S _?=$1'
    Delete "$1\Uninstall.exe"
    RMDir "$1"
  ${EndIf}

  Call FindExcelBitness
  ${If} $Want32 == 1
    !insertmacro InstallBitness 32 x86
  ${EndIf}
  ${If} $Want64 == 1
    !insertmacro InstallBitness 64 x64
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=README.txt" "${SOURCE_DIR}\installer\readme.txt"
  File "${SOURCE_DIR}\vba\Corvane.bas"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Corvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  ; Excel must be closed: a library it has loaded cannot be deleted.
  !insertmacro UninstallBitness 64 x64
  !insertmacro UninstallBitness 32 x86
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Corvane.bas"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Calibration takes a while to redo: silently (and on an upgrade) the settings stay.
  MessageBox MB_YESNO|MB_ICONQUESTION "Keep Corvane's calibration data and options for a later installation?" /SD IDYES IDYES keep
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  keep:
SectionEnd
