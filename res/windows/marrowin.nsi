; Marrowin's Windows installer (NSIS 3).
;   makensis -DVERSION=0.2.0 -DBUILD_DIR=/path/to/build-windows -DSOURCE_DIR=/path/to/source
;            [-DARCH=x86_64|i686] [-DOUTFILE=...] res/windows/marrowin.nsi
; Per user without administrator rights by default; /ALLUSERS installs for every user (needs
; administrator rights). /PATH selects the PATH section, for silent installs. /S is silent.
; Programs are packed only if the build made them, so this builds before every part exists.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "pass -DVERSION=X.Y.Z"
!endif
!ifndef BUILD_DIR
  !error "pass -DBUILD_DIR=the build folder"
!endif
!ifndef SOURCE_DIR
  !define SOURCE_DIR "${__FILEDIR__}\..\.."
!endif
!ifndef ARCH
  !define ARCH x86_64
!endif
!ifndef OUTFILE
  !define OUTFILE "${BUILD_DIR}/marrowin-setup-${VERSION}.exe"
!endif

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!else if "${ARCH}" == "i686"
  Target x86-unicode
!else
  !error "ARCH is x86_64 or i686"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include x64.nsh
!include Sections.nsh

!define PRODUCT "Marrowin"
!define PUBLISHER "The Marrowin developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marrowin"
!define CLASSES "Software\Classes"
!define THUMBNAIL_CLSID "{D45D5648-B3DB-44A1-B940-6CBA5DF671A0}"
!define PROPERTY_CLSID "{BCC7219A-892C-4A83-8A05-88A17FE45DD5}"
!define THUMBNAIL_SHELLEX "{e357fccd-a995-4576-b01f-234630154e96}"
!define PROPERTY_HANDLERS "Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers"
; Kept beside our ProgID in an extension's key: the ProgID that was there before us.
!define PREVIOUS_VALUE "Marrowin.Previous"

; What the build made decides what is packed and registered.
!if /FileExists "${BUILD_DIR}\marrowin.exe"
  !define HAVE_VIEWER
!endif
!if /FileExists "${BUILD_DIR}\marrowin-cli.exe"
  !define HAVE_CLI
!endif
!if /FileExists "${BUILD_DIR}\marrowin-cards.exe"
  !define HAVE_CARDS
!endif
!if /FileExists "${BUILD_DIR}\marrowin-shell.dll"
  !define HAVE_SHELL
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
; Left empty so that .onInit can tell a /D= from the default.
InstallDir ""
BrandingText "${PRODUCT} ${VERSION}"

!searchparse /noerrors "${VERSION}" "" V_MAJOR "." V_MINOR "." V_PATCH
VIProductVersion "${V_MAJOR}.${V_MINOR}.${V_PATCH}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "See LICENSE"

!define MUI_ICON "${SOURCE_DIR}\res\marrowin.ico"
!define MUI_UNICON "${SOURCE_DIR}\res\marrowin.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${SOURCE_DIR}\LICENSE"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!ifdef HAVE_VIEWER
  !define MUI_FINISHPAGE_RUN "$INSTDIR\marrowin.exe"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers
; PATH as a ;-separated list: $PathList in, $PathEntry the entry looked for, in any letter case.
Var PathList
Var PathEntry
Var PathItem
Var PathChar
Var PathOut
Var PathFound

!macro ChooseContext un
Function ${un}ChooseContext
  StrCpy $AllUsers 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  !if "${un}" == "un."
    ; An uninstaller started by hand finds its own installation.
    ${If} $AllUsers == 0
      ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
      ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $R1 == ""
      ${AndIf} $R2 != ""
        StrCpy $AllUsers 1
      ${EndIf}
    ${EndIf}
  !endif
  ${If} $AllUsers == 1
    UserInfo::GetAccountType
    Pop $R1
    ${If} $R1 != "Admin"
      MessageBox MB_ICONSTOP "Installing for all users needs administrator rights." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  !if "${ARCH}" == "x86_64"
    SetRegView 64
  !endif
FunctionEnd
!macroend
!insertmacro ChooseContext ""
!insertmacro ChooseContext "un."


Function un.onInit
  Call un.ChooseContext
FunctionEnd

; An extension's key names our ProgID; a ProgID that was there before is kept for the uninstaller.
!macro Associate EXT PROGID
  ReadRegStr $R0 SHCTX "${CLASSES}\${EXT}" ""
  ${If} $R0 != ""
  ${AndIf} $R0 != "${PROGID}"
    WriteRegStr SHCTX "${CLASSES}\${EXT}" "${PREVIOUS_VALUE}" $R0
  ${EndIf}
  WriteRegStr SHCTX "${CLASSES}\${EXT}" "" "${PROGID}"
  WriteRegStr SHCTX "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
!macroend

!macro Unassociate EXT PROGID
  ReadRegStr $R0 SHCTX "${CLASSES}\${EXT}" ""
  ${If} $R0 == "${PROGID}"
    ReadRegStr $R1 SHCTX "${CLASSES}\${EXT}" "${PREVIOUS_VALUE}"
    ${If} $R1 != ""
      WriteRegStr SHCTX "${CLASSES}\${EXT}" "" $R1
    ${Else}
      DeleteRegValue SHCTX "${CLASSES}\${EXT}" ""
    ${EndIf}
  ${EndIf}
  DeleteRegValue SHCTX "${CLASSES}\${EXT}" "${PREVIOUS_VALUE}"
  DeleteRegValue SHCTX "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\${EXT}\OpenWithProgids"
  !insertmacro RemoveHandlers "${EXT}"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\${EXT}"
!macroend

; Another program's handler in these places is left alone.
!macro RemoveHandlers EXT
  ReadRegStr $R0 SHCTX "${CLASSES}\${EXT}\ShellEx\${THUMBNAIL_SHELLEX}" ""
  ${If} $R0 == "${THUMBNAIL_CLSID}"
    DeleteRegValue SHCTX "${CLASSES}\${EXT}\ShellEx\${THUMBNAIL_SHELLEX}" ""
  ${EndIf}
  DeleteRegKey /ifempty SHCTX "${CLASSES}\${EXT}\ShellEx\${THUMBNAIL_SHELLEX}"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\${EXT}\ShellEx"
  ReadRegStr $R0 SHCTX "${PROPERTY_HANDLERS}\${EXT}" ""
  ${If} $R0 == "${PROPERTY_CLSID}"
    DeleteRegValue SHCTX "${PROPERTY_HANDLERS}\${EXT}" ""
  ${EndIf}
  DeleteRegKey /ifempty SHCTX "${PROPERTY_HANDLERS}\${EXT}"
!macroend

!macro ProgId PROGID DESCRIPTION EXE
  WriteRegStr SHCTX "${CLASSES}\${PROGID}" "" "${DESCRIPTION}"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\${EXE}",0'
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
!macroend

!macro Handlers EXT
  WriteRegStr SHCTX "${CLASSES}\${EXT}\ShellEx\${THUMBNAIL_SHELLEX}" "" "${THUMBNAIL_CLSID}"
  WriteRegStr SHCTX "${PROPERTY_HANDLERS}\${EXT}" "" "${PROPERTY_CLSID}"
!macroend

!macro ForEachType MACRO
  !insertmacro ${MACRO} .psu Marrowin.SaveArchive
  !insertmacro ${MACRO} .ps2 Marrowin.MemoryCard
  !insertmacro ${MACRO} .mc2 Marrowin.MemoryCard
  !insertmacro ${MACRO} .max Marrowin.Save
  !insertmacro ${MACRO} .cbs Marrowin.Save
  !insertmacro ${MACRO} .sps Marrowin.Save
  !insertmacro ${MACRO} .xps Marrowin.Save
  !insertmacro ${MACRO} .psv Marrowin.Save
!macroend

!macro AssociateIfOpened EXT PROGID
  !if "${PROGID}" == "Marrowin.SaveArchive"
    !ifdef HAVE_VIEWER
      !insertmacro Associate ${EXT} ${PROGID}
    !endif
  !else ifdef HAVE_CARDS
    !insertmacro Associate ${EXT} ${PROGID}
  !endif
!macroend

!macro HandlersFor EXT PROGID
  !insertmacro Handlers ${EXT}
!macroend

Section "Marrowin" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !ifdef HAVE_VIEWER
    File "${BUILD_DIR}\marrowin.exe"
  !endif
  !ifdef HAVE_CLI
    File "${BUILD_DIR}\marrowin-cli.exe"
  !endif
  !ifdef HAVE_CARDS
    File "${BUILD_DIR}\marrowin-cards.exe"
  !endif
  File "/oname=README.md" "${SOURCE_DIR}\README.md"
  File "/oname=LICENSE.txt" "${SOURCE_DIR}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !ifdef HAVE_VIEWER
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Marrowin.lnk" "$INSTDIR\marrowin.exe"
  !endif
  !ifdef HAVE_CARDS
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Marrowin Cards.lnk" "$INSTDIR\marrowin-cards.exe"
  !endif

  !ifdef HAVE_VIEWER
    !insertmacro ProgId Marrowin.SaveArchive "PlayStation 2 save archive" marrowin.exe
  !endif
  !ifdef HAVE_CARDS
    !insertmacro ProgId Marrowin.MemoryCard "PlayStation 2 memory card image" marrowin-cards.exe
    !insertmacro ProgId Marrowin.Save "PlayStation 2 save" marrowin-cards.exe
  !endif
  !insertmacro ForEachType AssociateIfOpened

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  !ifdef HAVE_VIEWER
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\marrowin.exe",0'
  !endif
  ${If} $AllUsers == 1
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /ALLUSERS'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S /ALLUSERS'
  ${Else}
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${EndIf}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

!ifdef HAVE_SHELL
Section "Explorer thumbnails and details" SecShell
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}\marrowin-shell.dll"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${THUMBNAIL_CLSID}" "" "Marrowin thumbnail provider"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${THUMBNAIL_CLSID}\InprocServer32" "" "$INSTDIR\marrowin-shell.dll"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${THUMBNAIL_CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${PROPERTY_CLSID}" "" "Marrowin property handler"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${PROPERTY_CLSID}\InprocServer32" "" "$INSTDIR\marrowin-shell.dll"
  WriteRegStr SHCTX "${CLASSES}\CLSID\${PROPERTY_CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  !insertmacro ForEachType HandlersFor
SectionEnd
!endif

; PATH entries past NSIS's string length would be cut when read; then PATH is left alone.
Section /o "Add the install folder to PATH" SecPath
  ClearErrors
  ReadRegStr $R0 HKCU "Environment" "Path"
  ${If} ${Errors}
    ; Missing, or too long for the string it is read into: only the first means empty.
    StrCpy $R3 0
    ${Do}
      ClearErrors
      EnumRegValue $R4 HKCU "Environment" $R3
      ${If} ${Errors}
      ${OrIf} $R4 == ""
        ${Break}
      ${EndIf}
      ${If} $R4 == "Path"
        DetailPrint "PATH could not be read whole; $INSTDIR was not added"
        Goto done
      ${EndIf}
      IntOp $R3 $R3 + 1
    ${Loop}
    StrCpy $R0 ""
  ${EndIf}
  StrLen $R1 $R0
  StrLen $R2 $INSTDIR
  IntOp $R1 $R1 + $R2
  IntOp $R1 $R1 + 2
  ${If} $R1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "PATH is too long to change safely; $INSTDIR was not added"
    Goto done
  ${EndIf}
  StrCpy $PathList $R0
  StrCpy $PathEntry $INSTDIR
  Call PathHas
  ${If} $PathFound == 1
    DetailPrint "PATH already holds $INSTDIR"
    Goto done
  ${EndIf}
  ${If} $R0 == ""
    StrCpy $R0 "$INSTDIR"
  ${Else}
    StrCpy $R2 $R0 1 -1
    ${If} $R2 == ";"
      StrCpy $R0 "$R0$INSTDIR"
    ${Else}
      StrCpy $R0 "$R0;$INSTDIR"
    ${EndIf}
  ${EndIf}
  WriteRegExpandStr HKCU "Environment" "Path" $R0
  ; The uninstaller removes the entry only if we were the ones to add it.
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AddedToPath" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  done:
SectionEnd

Function .onInit
  !if "${ARCH}" == "i686"
    ; Explorer on 64-bit Windows loads only a 64-bit handler.
    ${If} ${RunningX64}
      MessageBox MB_ICONSTOP "This is the 32-bit installer; use the 64-bit one on 64-bit Windows." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  !endif
  Call ChooseContext
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 1
      !if "${ARCH}" == "x86_64"
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
      !else
        StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
      !endif
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

Section "-finish"
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $R0
  ; SHCNE_ASSOCCHANGED: Explorer rereads file types and handlers.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

LangString DESC_MAIN ${LANG_ENGLISH} "The programs, file types and Start menu entries."
!ifdef HAVE_SHELL
LangString DESC_SHELL ${LANG_ENGLISH} "Icons of saves and memory cards in Explorer, and their titles in its Details pane."
!endif
LangString DESC_PATH ${LANG_ENGLISH} "Lets a command prompt run marrowin-cli by name."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} $(DESC_MAIN)
  !ifdef HAVE_SHELL
    !insertmacro MUI_DESCRIPTION_TEXT ${SecShell} $(DESC_SHELL)
  !endif
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_PATH)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; Moves the list's first entry from $PathList to $PathItem; $PathChar is "" at the list's end.
!macro NextPathItem
  StrCpy $PathItem ""
  ${Do}
    StrCpy $PathChar $PathList 1
    StrCpy $PathList $PathList "" 1
    ${If} $PathChar == ";"
    ${OrIf} $PathChar == ""
      ${Break}
    ${EndIf}
    StrCpy $PathItem "$PathItem$PathChar"
  ${Loop}
!macroend

; $PathFound: 1 when the list holds the entry.
Function PathHas
  StrCpy $PathFound 0
  ${Do}
    !insertmacro NextPathItem
    ${If} $PathItem == $PathEntry
      StrCpy $PathFound 1
      ${Break}
    ${EndIf}
  ${LoopUntil} $PathChar == ""
FunctionEnd

; $PathOut: the list without every entry equal to the entry, the others as they were.
Function un.PathWithout
  StrCpy $PathOut ""
  StrCpy $PathFound 0
  ${Do}
    !insertmacro NextPathItem
    ${If} $PathItem != $PathEntry
      ${If} $PathFound == 1
        StrCpy $PathOut "$PathOut;$PathItem"
      ${Else}
        StrCpy $PathOut "$PathItem"
        StrCpy $PathFound 1
      ${EndIf}
    ${EndIf}
  ${LoopUntil} $PathChar == ""
FunctionEnd

Section "Uninstall"
  ; Only what the installer wrote goes; a folder the user put other files in stays.
  Delete /REBOOTOK "$INSTDIR\marrowin-shell.dll"
  Delete "$INSTDIR\marrowin.exe"
  Delete "$INSTDIR\marrowin-cli.exe"
  Delete "$INSTDIR\marrowin-cards.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\Marrowin.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Marrowin Cards.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  ReadRegDWORD $R0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $R0 == 1
    ClearErrors
    ReadRegStr $R0 HKCU "Environment" "Path"
    StrLen $R1 $R0
    ${If} ${Errors}
      DetailPrint "PATH could not be read whole; remove $INSTDIR from it by hand"
    ${ElseIf} $R1 < ${NSIS_MAX_STRLEN}
      StrCpy $PathList $R0
      StrCpy $PathEntry $INSTDIR
      Call un.PathWithout
      ${If} $PathOut != $R0
        ${If} $PathOut == ""
          DeleteRegValue HKCU "Environment" "Path"
        ${Else}
          WriteRegExpandStr HKCU "Environment" "Path" $PathOut
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
      ${EndIf}
    ${Else}
      DetailPrint "PATH is too long to change safely; remove $INSTDIR from it by hand"
    ${EndIf}
  ${EndIf}

  !insertmacro ForEachType Unassociate
  DeleteRegKey SHCTX "${CLASSES}\Marrowin.SaveArchive"
  DeleteRegKey SHCTX "${CLASSES}\Marrowin.MemoryCard"
  DeleteRegKey SHCTX "${CLASSES}\Marrowin.Save"
  DeleteRegKey SHCTX "${CLASSES}\CLSID\${THUMBNAIL_CLSID}"
  DeleteRegKey SHCTX "${CLASSES}\CLSID\${PROPERTY_CLSID}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
