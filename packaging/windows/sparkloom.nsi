; Sparkloom's per-user installer for 64-bit Windows, made by
; scripts/build-windows.sh with Debian's makensis. No administrator rights:
; everything goes under the user's own folders and HKCU.
;
; Defines: VERSION; OUTFILE; FILES and REMOVALS, lines written from the staged
; program folder that install its files and delete exactly those again;
; WINDOW when sparkloom.exe is among them.

; 64-bit like the programs it carries: Windows refuses it on a 32-bit system,
; and it runs where only 64-bit Wine is installed.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sparkloom"
!define CLASSES "Software\Classes"
; Where the window keeps its remembered folder.
!define SETTINGS_KEY "Software\Sparkloom"
; The window's class: while one is open its files are locked.
!define WINDOW_CLASS "SparkloomForm1"

Name "Sparkloom ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Sparkloom"
; An update goes where the last install went; /D= overrides both.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Sparkloom ${VERSION}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!ifdef WINDOW
  !define MUI_FINISHPAGE_RUN "$INSTDIR\sparkloom.exe"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Lets Explorer see the changed "Open with" lists without a new logon.
!macro AssociationsChanged
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

; The videos whose "Open with" list gets the window.
!macro ForEachVideo action progid
  !insertmacro ${action} .mp4 ${progid}
  !insertmacro ${action} .mov ${progid}
  !insertmacro ${action} .avi ${progid}
  !insertmacro ${action} .mpg ${progid}
  !insertmacro ${action} .wmv ${progid}
  !insertmacro ${action} .mkv ${progid}
  !insertmacro ${action} .webm ${progid}
  !insertmacro ${action} .m4v ${progid}
!macroend

!macro AddOpenWith extension progid
  WriteRegNone HKCU "${CLASSES}\${extension}\OpenWithProgids" "${progid}"
!macroend

; Takes our value out, and the keys only when nothing of anyone else is left
; in them.
; Files in use cannot be replaced or removed: the user is asked to close the
; window first, and nothing is changed when they will not. A silent run
; cannot ask, and stops.
!macro CloseWindowFirst un
  Function ${un}CloseWindowFirst
    ${Do}
      FindWindow $0 "${WINDOW_CLASS}"
      ${If} $0 == 0
        Return
      ${EndIf}
      MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION \
        "Sparkloom is running. Please close it, then click OK to go on." /SD IDCANCEL IDOK +2
      Abort
    ${Loop}
  FunctionEnd
!macroend
!insertmacro CloseWindowFirst ""
!insertmacro CloseWindowFirst "un."

Function .onInit
  Call CloseWindowFirst
FunctionEnd

Function un.onInit
  Call un.CloseWindowFirst
FunctionEnd

!macro RemoveOpenWith extension progid
  DeleteRegValue HKCU "${CLASSES}\${extension}\OpenWithProgids" "${progid}"
  DeleteRegKey /ifempty HKCU "${CLASSES}\${extension}\OpenWithProgids"
  DeleteRegKey /ifempty HKCU "${CLASSES}\${extension}"
!macroend

Section
  ; An earlier version's files go with its own uninstaller, run in place, so
  ; nothing it shipped and this one does not stays behind; the settings stay.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S /UPGRADE _?=$0' $1
    ${If} $1 != 0
      MessageBox MB_ICONSTOP "The installed Sparkloom in $0 could not be removed." /SD IDOK
      Abort
    ${EndIf}
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetOutPath "$INSTDIR"
  !ifdef WINDOW
    CreateShortcut "$SMPROGRAMS\Sparkloom.lnk" "$INSTDIR\sparkloom.exe"
  !else
    ; Without the window, a console in the program folder that shows the usage.
    CreateShortcut "$SMPROGRAMS\Sparkloom.lnk" "$SYSDIR\cmd.exe" "/k sparkloom-cli.exe --help"
  !endif

  ; The host editor owns .dzp (a double-click installs the template), so
  ; Sparkloom only joins its "Open with" list, never its default. The check
  ; runs in a console that stays open, so the result can be read.
  ; "Open with" names the program by FriendlyAppName; without it, by the
  ; console that runs the check.
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package" "" "Sparkloom particle package"
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package" "FriendlyTypeName" "Sparkloom particle package"
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package\shell" "" "check"
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package\shell\check" "" "Check with Sparkloom"
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package\shell\check" "FriendlyAppName" "Sparkloom"
  WriteRegStr HKCU "${CLASSES}\Sparkloom.Package\shell\check\command" "" \
    '"$SYSDIR\cmd.exe" /k ""$INSTDIR\sparkloom-cli.exe" --check "%1""'
  !insertmacro AddOpenWith .dzp Sparkloom.Package

  !ifdef WINDOW
    WriteRegStr HKCU "${CLASSES}\Sparkloom.Video" "" "Video for Sparkloom"
    WriteRegStr HKCU "${CLASSES}\Sparkloom.Video" "FriendlyTypeName" "Video for Sparkloom"
    WriteRegStr HKCU "${CLASSES}\Sparkloom.Video\shell\open" "FriendlyAppName" "Sparkloom"
    WriteRegStr HKCU "${CLASSES}\Sparkloom.Video\DefaultIcon" "" "$INSTDIR\sparkloom.exe,0"
    WriteRegStr HKCU "${CLASSES}\Sparkloom.Video\shell\open\command" "" '"$INSTDIR\sparkloom.exe" "%1"'
    !insertmacro ForEachVideo AddOpenWith Sparkloom.Video
  !endif

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Sparkloom"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Sparkloom"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  !ifdef WINDOW
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sparkloom.exe"
  !endif
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro AssociationsChanged
SectionEnd

Section Uninstall
  !insertmacro RemoveOpenWith .dzp Sparkloom.Package
  DeleteRegKey HKCU "${CLASSES}\Sparkloom.Package"
  ; Whether or not this build had the window: a former install may have.
  !insertmacro ForEachVideo RemoveOpenWith Sparkloom.Video
  DeleteRegKey HKCU "${CLASSES}\Sparkloom.Video"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\Sparkloom.lnk"
  ; The remembered folder goes too, unless a newer version replaces this one.
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/UPGRADE" $1
  ${If} ${Errors}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
  ${EndIf}

  !include "${REMOVALS}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  !insertmacro AssociationsChanged
SectionEnd
