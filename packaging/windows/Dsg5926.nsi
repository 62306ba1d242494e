; Windows installer of 5926 Data Collect, built by tools/windows/build-installer.sh:
;   makensis -DVERSION=1.0 -DBINDIR=<build-win/bin> -DRUNTIME=<runtime.nsh>
;            -DOUTFILE=<setup.exe> [-DWITH_EXCEL] packaging/windows/Dsg5926.nsi
;
; Per-user by default (no administrator rights needed), all users on request:
;   setup.exe /S                 per-user, silent
;   setup.exe /S /AllUsers       all users, silent (an administrator's account)
;
; The meter maker's driver takes the place of the stand-in trovport.dll in
; the working folder. A trovport.dll found there is the user's: the installer
; never replaces one and the uninstaller never removes one.

Unicode true
SetCompressor /SOLID lzma

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build with tools/windows/build-installer.sh"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE BINDIR
!insertmacro REQUIRE RUNTIME
!insertmacro REQUIRE OUTFILE

!define PRODUCT "5926 Data Collect"
!define PUBLISHER "Trova"
!define EXE "Dsg5926.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

; Four-part version for the installer's own version resource.
!searchparse /noerrors "${VERSION}.0.0.0" "" VI_A "." VI_B "." VI_C "." VI_D "."
!ifndef VI_D
  !define VI_D 0
!endif
VIProductVersion "${VI_A}.${VI_B}.${VI_C}.${VI_D}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

; "Highest" keeps a standard user's setup unelevated (per-user install only)
; and lets an administrator choose; the default stays per-user for both.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_FUNCTION OnInstallMode
!define MULTIUSER_INSTALLMODE_UNFUNCTION un.OnInstallMode
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "${__FILEDIR__}\Dsg5926.ico"
!define MUI_UNICON "${__FILEDIR__}\Dsg5926.ico"
!define MUI_ABORTWARNING

; The folder the program runs in: it holds trovport.dll and must be writable
; by the user who runs the program.
Var WorkDir

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!include "${RUNTIME}"

; Per user: the user's local application data. All users: the common
; application data folder, where every user of the PC is given the right to
; change files, so each can replace the driver and the program can write there.
!macro SET_WORKDIR
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $WorkDir "$APPDATA\Trova\5926"
  ${Else}
    StrCpy $WorkDir "$LOCALAPPDATA\Trova\5926"
  ${EndIf}
!macroend

Function OnInstallMode
  !insertmacro SET_WORKDIR
  ; A new version goes where the last one of the same mode went.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.OnInstallMode
  !insertmacro SET_WORKDIR
FunctionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  ; Started without /AllUsers or /CurrentUser (from the folder, say): the
  ; mode is the one whose key names this folder.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AllUsers" $1
  ${If} ${Errors}
  ${AndIf} $MultiUser.InstallMode == "CurrentUser"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == $INSTDIR
    ${AndIf} $2 != $INSTDIR
    ${AndIf} $MultiUser.Privileges == "Admin"
      Call un.MultiUser.InstallMode.AllUsers
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SecMain
  SectionIn RO

  SetOutPath "$INSTDIR"
  File "${BINDIR}\${EXE}"
!ifdef WITH_EXCEL
  ; The program starts the stand-in spreadsheet from its own folder when no
  ; spreadsheet answers.
  File "${BINDIR}\Excel.exe"
!endif
  !insertmacro INSTALL_RUNTIME
  SetOutPath "$INSTDIR\platforms"
  File "${BINDIR}\platforms\qwindows.dll"

  SetOutPath "$WorkDir"
  ${If} $MultiUser.InstallMode == "AllUsers"
    ; BUILTIN\Users by SID, so any Windows language finds it.
    nsExec::Exec 'icacls "$WorkDir" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $0
  ${EndIf}
  SetOverwrite off
  File "${BINDIR}\trovport.dll"
  SetOverwrite on

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The shortcut's working folder is the current output folder.
  SetOutPath "$WorkDir"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  SetOutPath "$INSTDIR"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Only what the installer put there goes: files the user saved beside the
; program, the working folder's driver and anything else in it stay.
Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\Excel.exe"
  !insertmacro UNINSTALL_RUNTIME
  Delete "$INSTDIR\platforms\qwindows.dll"
  RMDir "$INSTDIR\platforms"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  ; Empty only when the user removed the driver too.
  RMDir "$WorkDir"
  RMDir "$WorkDir\.."

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
