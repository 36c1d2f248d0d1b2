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
; Both the installer and its uninstaller run silently with /S. The uninstaller copies itself to a
; temporary folder, starts the copy and returns at once; to wait for an uninstall (a new version's
; installer removing the old one, as below), copy uninstall.exe to a temporary folder yourself and
; run the copy with "_?=<install folder>" as its last argument, unquoted: ExecWait then waits.
;
; A newer build installs over an older one in place: it finds the install folder in the
; Add/Remove Programs entry, runs the old build's uninstaller silently and waits for it, then
; installs. The old uninstaller's remove_shortcuts must run while the old relinfo.xml is still
; there: every shortcut's name ends in the revision read from it, so once the new relinfo.xml is
; in place the old shortcuts are never found again.

Unicode true
; The programs use the all-users Start menu when they run elevated and the user's own otherwise,
; and the remover only finds what the same kind of run wrote: install and uninstall both elevated.
RequestExecutionLevel admin

!include LogicLib.nsh

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
; release archive (instkit's README, "Signing a release"). The uninstaller and the installer are
; signed once makensis has written them, when SIGN names a command that signs the file named
; after it in place and exits with 0, e.g. instkit's own
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

Section "Vortasim"
  ; An installed build in this folder goes first, by its own uninstaller, silently, and this
  ; installer waits for it: see the top of this script. Installing over it without this leaves
  ; its shortcuts behind beside the new ones.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    InitPluginsDir
    CopyFiles /SILENT "$INSTDIR\uninstall.exe" "$PLUGINSDIR\old-uninstall.exe"
    ExecWait '"$PLUGINSDIR\old-uninstall.exe" /S _?=$INSTDIR'
    Delete "$PLUGINSDIR\old-uninstall.exe"
  ${EndIf}

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

  ; ...then the shortcuts. add_shortcuts shows nothing and always exits with 0, so its exit code
  ; says nothing: do not branch on it.
  ExecWait '"$INSTDIR\${PROGRAMS_DIR}\add_shortcuts.exe"'
SectionEnd

Section "Uninstall"
  ; No process of ours may keep a folder of the install as its working directory, or it could not
  ; be removed.
  SetOutPath "$TEMP"

  ; Shortcuts first, while relinfo.xml is still in place: remove_shortcuts reads the Start-menu
  ; folder name and the revision from it to know what to delete. An uninstaller that deletes
  ; relinfo.xml first leaves every shortcut behind.
  ExecWait '"$INSTDIR\${PROGRAMS_DIR}\remove_shortcuts.exe"'

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
  RMDir "$INSTDIR"
SectionEnd
