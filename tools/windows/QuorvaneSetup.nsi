; The Windows setup of the installer, for one user and without administrator
; rights: puts quorvane-installer.exe and unzip32.dll into
; %LOCALAPPDATA%\Programs\Quorvane, registers the "pavix:" scheme, and adds
; an uninstaller and its entry among the user's programs. Its finish page
; tells what the installer will find (quorvane-find-game.exe, run from the
; setup's own temporary folder, never installed) and what to do next. /S
; runs the setup and the uninstaller silently; running the setup over an
; installed copy updates it in place.
;   makensis -DVERSION=1.0.0 -DDIST=<folder of the three programs> -DOUTFILE=<setup.exe>
;            [-DWIN64] QuorvaneSetup.nsi
; (WIN64: a 64-bit setup of a 64-bit build, for the tests where Wine cannot
; run 32-bit programs.)

!ifndef VERSION
  !error "define VERSION, DIST and OUTFILE"
!endif
!ifndef DIST
  !error "define VERSION, DIST and OUTFILE"
!endif
!ifndef OUTFILE
  !error "define VERSION, DIST and OUTFILE"
!endif

!include LogicLib.nsh
!include MUI2.nsh

Unicode true
!ifdef WIN64
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma

!define TITLE "Quorvane Modular Stair Installer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define SCHEME_KEY "Software\Classes\pavix"

Name "${TITLE}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Quorvane"
; An installed copy is updated where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails hide
ShowUninstDetails hide

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${TITLE}"
VIAddVersionKey "FileDescription" "Setup of the ${TITLE}"
VIAddVersionKey "CompanyName" "Quorvane"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Quorvane"

Var command
Var found

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE WhatWasFound
!define MUI_FINISHPAGE_TITLE "The installer is ready"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "$found"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Writes the scheme's keys below `root`: the URL protocol and the command
; that starts the installer with the link as its one argument.
!macro WriteScheme root
  WriteRegStr ${root} "${SCHEME_KEY}" "" "URL:${TITLE}"
  WriteRegStr ${root} "${SCHEME_KEY}" "URL Protocol" ""
  WriteRegStr ${root} "${SCHEME_KEY}\shell\open\command" "" "$command"
!macroend

; Deletes the scheme's keys below `root` while they still start this copy:
; a scheme that another program has taken over since stays its own.
!macro DeleteScheme root
  ReadRegStr $0 ${root} "${SCHEME_KEY}\shell\open\command" ""
  ${If} $0 == $command
    DeleteRegKey ${root} "${SCHEME_KEY}"
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

; The finish page's text: what the installer will find, as its own lookups
; find it, and what to do next. Pages are not shown to a silent setup, so it
; never runs there.
Function WhatWasFound
  InitPluginsDir
  File "/oname=$PLUGINSDIR\quorvane-find-game.exe" "${DIST}\quorvane-find-game.exe"
  nsExec::ExecToStack '"$PLUGINSDIR\quorvane-find-game.exe"'
  Pop $0
  Pop $1
  StrCpy $2 "click a $\"pavix:$\" link on a stair page. The installer has no window of its \
    own: it answers in message boxes. A game below Program Files may ask for an \
    administrator's rights the first time a run changes its catalog."
  ${If} $0 == 0
    StrCpy $found "$1$\r$\nNext, $2"
  ${ElseIf} $0 == 1
    StrCpy $found "The Sims 2 was not found on this computer, so stairs cannot be installed \
      yet.$\r$\n$\r$\nInstall the game (a Legacy Collection: start it once), then $2"
  ${Else}
    StrCpy $found "The setup could not tell whether The Sims 2 is installed.$\r$\n$\r$\nNext, $2"
  ${EndIf}
FunctionEnd

Section
  ; The user's programs folder may not exist yet: then the uninstaller
  ; removes it again once it is empty.
  ${IfNot} ${FileExists} "$INSTDIR\..\*.*"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "ParentCreated" 1
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${DIST}\quorvane-installer.exe"
  File "${DIST}\unzip32.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  StrCpy $command '"$INSTDIR\quorvane-installer.exe" "%1"'
  !insertmacro WriteScheme HKCU
  ; Windows merges the user's classes into HKEY_CLASSES_ROOT, which the shell
  ; reads; Wine does not, and there the per-user scheme starts nothing. Where
  ; the merged view does not show the command, the machine's classes get it
  ; too, when this user may write them (Wine lets every user).
  ReadRegStr $0 HKCR "pavix\shell\open\command" ""
  ${If} $0 != $command
    ClearErrors
    !insertmacro WriteScheme HKLM
    ${IfNot} ${Errors}
      WriteRegDWORD HKCU "${UNINSTALL_KEY}" "MachineScheme" 1
    ${EndIf}
  ${EndIf}

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quorvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvane-installer.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\quorvane-installer.exe"
  Delete "$INSTDIR\unzip32.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  StrCpy $command '"$INSTDIR\quorvane-installer.exe" "%1"'
  !insertmacro DeleteScheme HKCU
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "MachineScheme"
  ${If} $1 == 1
    !insertmacro DeleteScheme HKLM
  ${EndIf}
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "ParentCreated"
  ${If} $1 == 1
    RMDir "$INSTDIR\.."
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
