; An installer for a sample suite, "Vortasim 18.1", that lets instkit's two programs make and
; remove its Start-menu shortcuts. Copy it and put your suite's files in.
;
;   makensis sample_suite.nsi          where the release archive puts it (examples\nsis\): the
;                                      programs come from the archive's bin folder, the sample
;                                      relinfo.xml from beside the script
;   makensis -DVERSION=18.2 -DRELINFO=path -DADD_SHORTCUTS=path -DREMOVE_SHORTCUTS=path
;            -DOUTFILE=path sample_suite.nsi
;                                      another build, or the programs from elsewhere
;
; Both the installer and its uninstaller run silently with /S; /D=<folder> (last, unquoted) picks
; the install folder. The uninstaller copies itself to a temporary folder, starts the copy and
; returns at once; to wait for an uninstall (a new version's installer removing the old one, as
; below), copy uninstall.exe to a temporary folder yourself and run the copy with
; "_?=<install folder>" as its last argument, unquoted: ExecWait then waits.
;
; Upgrades. A build finds the installed one, wherever it is, by the install folder and version in
; the Add/Remove Programs entry. It runs that build's uninstaller silently, waits for it and
; checks its exit code, then installs, into whatever folder the user picked: installing beside
; the old copy instead would leave it, and its shortcuts, with no entry to remove them by. The old
; uninstaller's remove_shortcuts must run while the old relinfo.xml is still there: every
; shortcut's name ends in the revision read from it, so once the new relinfo.xml is in place the
; old shortcuts are never found again. When the old uninstall fails, nothing is installed.
; A build older than the installed one refuses to install (exit code 1638 when silent) unless run
; with /ALLOWDOWNGRADE; a build of the same version replaces the installed one.
;
; Exit codes: 0 installed; 740 not run by an administrator; 1638 a newer build is installed;
; 2 cancelled, or the installed build could not be removed.

Unicode true
; The account. The programs are for per-machine installs: they use the all-users Start menu when
; they run elevated and the user's own otherwise, and the remover only finds what the same kind of
; run wrote, so the installer and the uninstaller both run elevated. RequestExecutionLevel admin
; asks for that, but Windows grants it only where UAC is on: with UAC off, a standard user's run
; starts unelevated and would write shortcuts into that user's own Start menu, where an
; administrator's uninstall never looks. So both also refuse to run for anyone who is not an
; administrator (.onInit, un.onInit below).
; A per-user installer (RequestExecutionLevel user) does not run the programs "as the user" for
; every user: both ask for the highest rights available, so an administrator's start of them from
; an unelevated installer fails with ERROR_ELEVATION_REQUIRED (740) and no shortcut is made; only
; a standard user's run works, into that user's own Start menu.
RequestExecutionLevel admin

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

; The suite's version: in the installer's name, its file name and its Add/Remove Programs entry.
!ifndef VERSION
  !define VERSION "18.1"
!endif
!ifndef ADD_SHORTCUTS
  !define ADD_SHORTCUTS "..\..\bin\add_shortcuts.exe"
!endif
!ifndef REMOVE_SHORTCUTS
  !define REMOVE_SHORTCUTS "..\..\bin\remove_shortcuts.exe"
!endif
!ifndef RELINFO
  !define RELINFO "relinfo.xml"
!endif
; instkit's license and the notices of the runtime parts linked into the programs, which go
; wherever the programs go.
!ifndef INSTKIT_LICENSE
  !define INSTKIT_LICENSE "..\..\LICENSE"
!endif
!ifndef INSTKIT_NOTICES
  !define INSTKIT_NOTICES "..\..\THIRD-PARTY-NOTICES.txt"
!endif
!ifndef OUTFILE
  !define OUTFILE "Vortasim-${VERSION}-setup.exe"
!endif

; Signing (optional). The programs are signed before they are packed: take them from the signed
; release archive (instkit's docs/releasing.md, "Signing a release"). The uninstaller and the
; installer are signed once makensis has written them, when SIGN names a command that signs the
; file named after it in place and exits with 0, e.g. instkit's own
;   makensis -DSIGN="/path/to/instkit/scripts/sign.sh --pkcs12 key.p12 --password-file pw --file" ...
; The uninstaller is signed before it is packed into the installer, which is signed last.
!ifdef SIGN
  !uninstfinalize '${SIGN} "%1"' = 0
  !finalize '${SIGN} "%1"' = 0
!endif

; The programs take the install root from their own path: they must stand exactly five levels
; below it, in <root>\KELDA\bin\winx64\<one folder>\. The shortcuts they write point at the
; suite's vxstart.exe, vxmotion.exe, vxplot.exe and KLD_ADMIN.exe in <root>\KELDA\bin\winx64\,
; with the icon <root>\commonfiles\images\VxHub2_iconSet.ico: install those there too.
!define PROGRAMS_DIR "KELDA\bin\winx64\installer"
; They read the Start-menu folder name and the revision that ends every shortcut's name from
; <root>\commonfiles\globalsettings\relinfo.xml.
!define RELINFO_DIR "commonfiles\globalsettings"
; The Add/Remove Programs entry: one key for every build of the suite, so that a newer build finds
; the installed one. A 32-bit installer writes it to the 32-bit registry view (WOW6432Node on
; 64-bit Windows), where Add/Remove Programs looks too.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vortasim"

Name "Vortasim ${VERSION}"
OutFile "${OUTFILE}"
; A 32-bit installer: $PROGRAMFILES is "Program Files (x86)" on 64-bit Windows. An installed build's
; folder comes first, from its Add/Remove Programs entry.
InstallDir "$PROGRAMFILES\Vortasim"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The folder of the installed build (from its Add/Remove Programs entry), or empty.
Var InstalledFolder
; How many folders this install creates: $INSTDIR and those of its parents that do not exist yet,
; counted from $INSTDIR up. Kept in the Add/Remove Programs entry ("CreatedFolders"), so that the
; uninstaller removes those, when they are left empty, and never a folder that was there before.
Var CreatedFolders

; Refuses to go on for anyone who is not an administrator (see RequestExecutionLevel above):
; exit code 740, ERROR_ELEVATION_REQUIRED.
!macro REQUIRE_ADMINISTRATOR
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Vortasim is installed and removed for all users: run this as an administrator." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro REQUIRE_ADMINISTRATOR
  ReadRegStr $InstalledFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $InstalledFolder != ""
  ${AndIf} $1 != ""
    ${VersionCompare} "$1" "${VERSION}" $2
    ${If} $2 == 1
      ${GetParameters} $3
      ClearErrors
      ${GetOptions} $3 "/ALLOWDOWNGRADE" $4
      ${If} ${Errors}
        MessageBox MB_ICONSTOP "Vortasim $1, a newer build, is installed in $InstalledFolder. To replace it with ${VERSION}, run this installer with /ALLOWDOWNGRADE." /SD IDOK
        SetErrorLevel 1638
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMINISTRATOR
FunctionEnd

Section "Vortasim"
  ; The installed build goes first, wherever it is, by its own uninstaller, silently, and this
  ; installer waits for it: see the top of this script. An entry-less copy in the chosen folder
  ; (its entry lost) goes the same way.
  ${If} $InstalledFolder == ""
  ${AndIf} ${FileExists} "$INSTDIR\uninstall.exe"
    StrCpy $InstalledFolder $INSTDIR
  ${EndIf}
  ${If} $InstalledFolder != ""
  ${AndIf} ${FileExists} "$InstalledFolder\uninstall.exe"
    InitPluginsDir
    CopyFiles /SILENT "$InstalledFolder\uninstall.exe" "$PLUGINSDIR\old-uninstall.exe"
    ClearErrors
    ExecWait '"$PLUGINSDIR\old-uninstall.exe" /S _?=$InstalledFolder' $0
    ${If} ${Errors}
      StrCpy $0 "not started"
    ${EndIf}
    Delete "$PLUGINSDIR\old-uninstall.exe"
    ${If} $0 != 0
      DetailPrint "The installed Vortasim in $InstalledFolder could not be removed ($0): nothing was installed."
      MessageBox MB_ICONSTOP "The installed Vortasim in $InstalledFolder could not be removed ($0): nothing was installed." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}

  ; The folders about to be created (the installed build, removed above, took its own with it).
  StrCpy $CreatedFolders 0
  StrCpy $1 $INSTDIR
  ${DoWhile} $1 != ""
    ${IfThen} ${FileExists} "$1\*.*" ${|} ${ExitDo} ${|}
    IntOp $CreatedFolders $CreatedFolders + 1
    ${GetParent} $1 $1
  ${Loop}

  ; First every file of the suite, release file included...
  SetOutPath "$INSTDIR\${RELINFO_DIR}"
  File "/oname=relinfo.xml" "${RELINFO}"
  SetOutPath "$INSTDIR\${PROGRAMS_DIR}"
  File "/oname=add_shortcuts.exe" "${ADD_SHORTCUTS}"
  File "/oname=remove_shortcuts.exe" "${REMOVE_SHORTCUTS}"
  File "/oname=instkit-LICENSE.txt" "${INSTKIT_LICENSE}"
  File "/oname=instkit-THIRD-PARTY-NOTICES.txt" "${INSTKIT_NOTICES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vortasim ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KELDA"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedFolders" $CreatedFolders

  ; ...then the shortcuts. add_shortcuts shows nothing and always exits with 0, so its exit code
  ; says nothing: do not branch on it. Only a start that failed (the error flag) is worth a line.
  ClearErrors
  ExecWait '"$INSTDIR\${PROGRAMS_DIR}\add_shortcuts.exe"'
  ${If} ${Errors}
    DetailPrint "add_shortcuts.exe could not be started: no Start-menu shortcuts were made."
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; No process of ours may keep a folder of the install as its working directory, or it could not
  ; be removed.
  SetOutPath "$TEMP"

  ; Shortcuts first, while relinfo.xml is still in place: remove_shortcuts reads the Start-menu
  ; folder name and the revision from it to know what to delete. An uninstaller that deletes
  ; relinfo.xml first leaves every shortcut behind.
  ClearErrors
  ExecWait '"$INSTDIR\${PROGRAMS_DIR}\remove_shortcuts.exe"'
  ${If} ${Errors}
    DetailPrint "remove_shortcuts.exe could not be started: the Start-menu shortcuts stay."
  ${EndIf}

  ; The folders the install created, read before the entry goes: none when it is not there.
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedFolders"

  ; Then the files, and the folders only when they are empty (never RMDir /r "$INSTDIR": the user
  ; may have chosen a folder that holds other things).
  Delete "$INSTDIR\${RELINFO_DIR}\relinfo.xml"
  Delete "$INSTDIR\${PROGRAMS_DIR}\add_shortcuts.exe"
  Delete "$INSTDIR\${PROGRAMS_DIR}\remove_shortcuts.exe"
  Delete "$INSTDIR\${PROGRAMS_DIR}\instkit-LICENSE.txt"
  Delete "$INSTDIR\${PROGRAMS_DIR}\instkit-THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir "$INSTDIR\${RELINFO_DIR}"
  RMDir "$INSTDIR\commonfiles"
  RMDir "$INSTDIR\${PROGRAMS_DIR}"
  RMDir "$INSTDIR\KELDA\bin\winx64"
  RMDir "$INSTDIR\KELDA\bin"
  RMDir "$INSTDIR\KELDA"
  ; Last $INSTDIR and the parents the install created, deepest first, each only when it is empty
  ; (RMDir without /r), stopping at the first that is not: a folder that existed before the
  ; install stays, and so does one that now holds something else.
  StrCpy $2 $INSTDIR
  ${DoWhile} $1 > 0
    ClearErrors
    RMDir $2
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${GetParent} $2 $2
    IntOp $1 $1 - 1
  ${Loop}
SectionEnd
