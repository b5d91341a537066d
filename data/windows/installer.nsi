; The Windows setup program: both programs and the readme into
; Program Files\Tolm Upgrade for every user of the computer, a Start-menu
; shortcut to the window, an entry in Apps and features, and an uninstaller
; that removes exactly what was installed (the logs under %LOCALAPPDATA% and
; anything else in the folder stay).
;
;   makensis -DVERSION=3.4.8 -DPUBLISHER=Tolm -DFILES=DIR -DICON=ICO -DSIZE_KB=N -DOUTFILE=SETUP.EXE installer.nsi
; DIR holds tolm-upgrade.exe, tolm-upgrade-cli.exe and readme.txt.
;
; For deployment to many computers (the readme lists the same):
;   setup.exe /S [/ALLOWDOWNGRADE]            installs or upgrades silently
;   "<folder>\uninstall.exe" /S _?=<folder>   uninstalls silently and returns
;                                             when it is done (QuietUninstallString)
; Exit codes: 0 done; 1 cancelled by the operator; 2 failed; and, with
; nothing changed:
;   3  a copy of tolm-upgrade or tolm-upgrade-cli is running;
;   4  (setup) a newer version is installed, and /ALLOWDOWNGRADE was not given;
;   5  (setup) the Windows Installer package is installed: upgrade it with a
;      newer package, or remove it first.
;
; An upgrade goes into the folder of the installed version, whatever /D=
; says, so that a computer never holds two copies.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define PRODUCT "Tolm Upgrade"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; Held by tolm-upgrade.exe and tolm-upgrade-cli.exe for as long as they run,
; in the global namespace so that copies in every session are seen.
!define PROGRAM_MUTEX "Global\TolmUpgradeProgram"
; Owned by the uninstaller's last step until uninstall.exe and the folder are gone.
!define UNINSTALL_MUTEX "Global\TolmUpgradeUninstall"
; The Windows Installer package's (tolm-upgrade.wxs).
!define MSI_UPGRADE_CODE "{0BB6CD2A-AA27-40A9-A19E-071FB36FF16D}"
!define EXIT_RUNNING 3
!define EXIT_NEWER_INSTALLED 4
!define EXIT_MSI_INSTALLED 5
!define SYNCHRONIZE 0x00100000
!define ERROR_FILE_NOT_FOUND 2

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written fails the installation instead of being
; skipped (silently, under /S).
AllowSkipFiles off

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 Tolm Upgrade maintainers"

; The readme, to read: nothing to accept.
PageEx license
  Caption ": Read me"
  LicenseText "What ${PRODUCT} is, and the licences of its parts." "$(^NextBtn)"
  LicenseData "${FILES}\readme.txt"
PageExEnd
Page directory SkipWhenUpgrading
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Installed  ; the version installed, or ""

; Waits until no copy of our programs runs: interactively the operator is
; asked to close them, under /S the run ends with EXIT_RUNNING.
!macro WAIT_WHILE_RUNNING un
Function ${un}WaitWhileRunning
  ${Do}
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${PROGRAM_MUTEX}") p .r0 ?e'
    Pop $1
    ${If} $0 != 0
      System::Call 'kernel32::CloseHandle(p r0)'
    ${ElseIf} $1 = ${ERROR_FILE_NOT_FOUND}
      Return
    ${EndIf}
    ; Held (one that this account may not open is held all the same).
    IfSilent 0 +3
      SetErrorLevel ${EXIT_RUNNING}
      Quit
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT} is running (the window or tolm-upgrade-cli).$\r$\n$\r$\nClose it, then press Retry." \
      IDRETRY +3
      SetErrorLevel ${EXIT_RUNNING}
      Quit
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_WHILE_RUNNING ""
!insertmacro WAIT_WHILE_RUNNING "un."

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ; An uninstallation that has just returned may still be removing its own file.
  System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${UNINSTALL_MUTEX}") p .r0'
  ${If} $0 != 0
    System::Call 'kernel32::WaitForSingleObject(p r0, i 30000)'
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}

  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r0) i .r1'
  ${If} $1 = 0
    MessageBox MB_OK|MB_ICONSTOP \
      "${PRODUCT} is installed by its Windows Installer package.$\r$\nUpgrade it with a newer package, or remove it first." \
      /SD IDOK
    SetErrorLevel ${EXIT_MSI_INSTALLED}
    Quit
  ${EndIf}

  ReadRegStr $Installed HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
  ${If} $Installed != ""
    ${VersionCompare} "${VERSION}" "$Installed" $0
    ${If} $0 = 2
      ${GetParameters} $1
      ClearErrors
      ${GetOptions} $1 "/ALLOWDOWNGRADE" $2
      ${If} ${Errors}
        IfSilent 0 +3
          SetErrorLevel ${EXIT_NEWER_INSTALLED}
          Quit
        MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
          "${PRODUCT} $Installed is installed, which is newer than ${VERSION}.$\r$\n$\r$\nReplace it with ${VERSION}?" \
          IDYES +3
          SetErrorLevel ${EXIT_NEWER_INSTALLED}
          Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Call WaitWhileRunning
FunctionEnd

; An upgrade keeps the installed version's folder.
Function SkipWhenUpgrading
  ${If} $Installed != ""
    Abort
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  ; One may have been started while the pages were open.
  Call WaitWhileRunning
  SetOutPath "$INSTDIR"
  File "${FILES}\tolm-upgrade.exe"
  File "${FILES}\tolm-upgrade-cli.exe"
  File "${FILES}\readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\tolm-upgrade.exe" "" "$INSTDIR\tolm-upgrade.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tolm-upgrade.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; ------------------------------------------------------------- uninstaller
;
; Run as "uninstall.exe" alone, the uninstaller hands over to a copy of
; itself in the temporary folder and returns at once (so that the copy can
; remove uninstall.exe). Run in place with _?=FOLDER, it waits instead: it
; starts the copy itself and returns the copy's exit code when the copy has
; removed everything but uninstall.exe, which is still running; a last copy
; removes that file and the folder as soon as it has ended, owning
; UNINSTALL_MUTEX meanwhile, for which a setup started at once waits.

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESELF" $1
  ${IfNot} ${Errors}
    Call un.RemoveUninstaller
    Quit
  ${EndIf}
  ${If} "$EXEDIR" == "$INSTDIR"
    Call un.RunFromCopy
    Quit
  ${EndIf}
  Call un.WaitWhileRunning
FunctionEnd

Function un.RunFromCopy
  GetTempFileName $0
  CopyFiles /SILENT "$EXEPATH" "$0"
  StrCpy $1 ""
  IfSilent 0 +2
    StrCpy $1 "/S "
  ExecWait '"$0" $1_?=$INSTDIR' $2
  ${If} ${Errors}
    StrCpy $2 2
  ${EndIf}
  ${If} $2 = 0
    Exec '"$0" /REMOVESELF _?=$INSTDIR'
  ${Else}
    Delete "$0"
  ${EndIf}
  SetErrorLevel $2
FunctionEnd

Function un.RemoveUninstaller
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w "${UNINSTALL_MUTEX}") p .r0'
  ; The uninstaller that started this copy ends right after; up to 30 s.
  ${For} $1 1 300
    Delete "$INSTDIR\uninstall.exe"
    ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
      ${Break}
    ${EndIf}
    Sleep 100
  ${Next}
  ; Only when empty: what the operator put there stays.
  RMDir "$INSTDIR"
  Delete /REBOOTOK "$EXEPATH"
FunctionEnd

Section "Uninstall"
  Call un.WaitWhileRunning
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\tolm-upgrade.exe"
  Delete "$INSTDIR\tolm-upgrade-cli.exe"
  Delete "$INSTDIR\readme.txt"
  ; Not while the uninstaller that waits runs from it (see above).
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
