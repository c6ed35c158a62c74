; The Windows installer: the program and what it loads in one folder, a Start
; menu entry and an uninstaller listed in the installed programs. For the
; current user only (no administrator rights needed: the user's own programs
; folder, Start menu and uninstall entry), or for all users (Program Files, the
; common Start menu, an entry for the machine), which needs an administrator.
;
;   makensis -DVERSION=1.0.0 -DSOURCE=deploy-folder -DFILES=files.nsh -DICON=talvern.ico
;            -DOUTFILE=setup.exe [-DSIGN=sign-command] talvern.nsi
;
; FILES defines the macro REMOVE_FILES, which deletes each file and folder of
; SOURCE from $INSTDIR. SIGN, if given, is run with the path of the installer
; and of the uninstaller it carries, to sign them in place.
;
; Silent use: setup.exe /S [/CurrentUser | /AllUsers] [/D=folder]. Without a
; switch an administrator installs for all users, anyone else for themselves.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TALVERN"

; "Highest": the manifest asks for no rights an account does not have, so a
; user who is not an administrator installs without a prompt.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "TALVERN"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_FUNCTION KeepChosenFolder
!define MULTIUSER_INIT_FUNCTIONQUIT QuitWithoutRights
; The uninstaller finds out itself for whom it was installed (un.onInit).
!define MULTIUSER_NOUNINSTALL
!define MULTIUSER_INSTALLMODEPAGE_CAPTION " "
!define MULTIUSER_INSTALLMODEPAGE_TEXT_TOP "Install TALVERN for:"
!define MULTIUSER_INSTALLMODEPAGE_TEXT_ALLUSERS "Everyone who uses this computer (all users)"
!define MULTIUSER_INSTALLMODEPAGE_TEXT_CURRENTUSER "Only for me"
!define MULTIUSER_INSTALLMODEPAGE_SHOWUSERNAME
!include MultiUser.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include "${FILES}"

!ifdef SIGN
    !finalize '"${SIGN}" "%1"' = 0
    !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

Name "TALVERN ${VERSION}"
OutFile "${OUTFILE}"
; The program's own icon for the installer and the uninstaller.
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "TALVERN"
VIAddVersionKey "FileDescription" "TALVERN serial record capture setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "TALVERN developers"

; The choice of whom to install for is offered to administrators only.
!insertmacro MULTIUSER_PAGE_INSTALLMODE
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The folder given with /D=, which outranks the default of either install mode.
Var ChosenFolder

Function KeepChosenFolder
    ${If} $ChosenFolder != ""
        StrCpy $INSTDIR $ChosenFolder
    ${EndIf}
FunctionEnd

Function QuitWithoutRights
    SetErrorLevel 5 ; ERROR_ACCESS_DENIED
    Quit
FunctionEnd

Function .onInit
    SetRegView 64
    ; No InstallDir: $INSTDIR holds a folder here only when /D= gave one.
    StrCpy $ChosenFolder $INSTDIR
    !insertmacro MULTIUSER_INIT
FunctionEnd

; Whether an uninstall entry names the install in $INSTDIR: its Start menu
; entry and its uninstall entry go with it only then.
Var Listed

; What an install put in $INSTDIR, and if Listed its Start menu entry and its
; uninstall entry, for the install mode SetShellVarContext has set. Files the
; user added to the folder, such as captures, stay, and so does the folder then.
!macro REMOVE_INSTALL
    !insertmacro REMOVE_FILES
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ${If} $Listed == 1
        Delete "$SMPROGRAMS\TALVERN\TALVERN.lnk"
        RMDir "$SMPROGRAMS\TALVERN"
        DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ${EndIf}
!macroend

; Removes the install that the entry in SHCTX names, if there is one.
Function RemoveInstallListed
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        DetailPrint "Removing the earlier install in $0"
        StrCpy $1 $INSTDIR
        StrCpy $INSTDIR $0
        StrCpy $Listed 1
        !insertmacro REMOVE_INSTALL
        StrCpy $INSTDIR $1
    ${EndIf}
FunctionEnd

; Earlier installs go first, for all users and for this user, wherever they
; are: one program is never listed twice, nor left behind in a folder no entry
; names. One for all users that this account may not remove stops the install.
Function RemoveEarlierInstalls
    ${If} $MultiUser.Privileges == "Admin"
    ${OrIf} $MultiUser.Privileges == "Power"
        SetShellVarContext all
        Call RemoveInstallListed
    ${Else}
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 != ""
            MessageBox MB_OK|MB_ICONSTOP "TALVERN is already installed for all users of this computer, in $0. Only an administrator can remove that install." /SD IDOK
            Abort "TALVERN is already installed for all users in $0."
        ${EndIf}
    ${EndIf}
    SetShellVarContext current
    Call RemoveInstallListed
    ${If} $MultiUser.InstallMode == "AllUsers"
        SetShellVarContext all
    ${EndIf}
FunctionEnd

Section "TALVERN"
    Call RemoveEarlierInstalls
    SetOutPath "$INSTDIR"
    File /r "${SOURCE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The Start menu entry starts the program in $OUTDIR: the user's Documents,
    ; where a file named without a folder then lands, and not the program's
    ; folder, which nobody looks into (nor may write to, when it is under
    ; Program Files). An install for everyone cannot know each user's
    ; Documents: its entry starts in the Public Documents ($DOCUMENTS for all
    ; users), which every user may write to.
    CreateDirectory "$SMPROGRAMS\TALVERN"
    SetOutPath "$DOCUMENTS"
    CreateShortcut "$SMPROGRAMS\TALVERN\TALVERN.lnk" "$INSTDIR\talvern.exe"

    ; SHCTX: HKLM when installing for all users, HKCU for the current user.
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "TALVERN"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "TALVERN developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\talvern.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; $1 is 1 if the folder $0 is this uninstaller's folder under whatever name it
; goes by (a short 8.3 name, a drive letter of its own): a file made in one
; shows in the other.
Function un.IsThisFolder
    StrCpy $1 0
    ${If} $0 == $INSTDIR
        StrCpy $1 1
    ${ElseIf} $0 != ""
        GetTempFileName $2 "$INSTDIR"
        ${If} $2 != ""
            ${GetFileName} $2 $3
            ${If} ${FileExists} "$0\$3"
                StrCpy $1 1
            ${EndIf}
            Delete $2
        ${EndIf}
    ${EndIf}
FunctionEnd

; The uninstaller removes the install whose entry names its folder: the
; current user's, or the one for all users, which needs an administrator. A
; folder no entry names loses the program's files and nothing else.
Function un.onInit
    SetRegView 64
    StrCpy $Listed 1
    SetShellVarContext current
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    Call un.IsThisFolder
    ${If} $1 != 1
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        Call un.IsThisFolder
        ${If} $1 == 1
            SetShellVarContext all
            UserInfo::GetAccountType
            Pop $0
            ${If} $0 != "Admin"
            ${AndIf} $0 != "Power"
                MessageBox MB_OK|MB_ICONSTOP "TALVERN is installed for all users of this computer: only an administrator can remove it." /SD IDOK
                SetErrorLevel 5 ; ERROR_ACCESS_DENIED
                Quit
            ${EndIf}
        ${Else}
            StrCpy $Listed 0
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ; Only what the installer put there: the user's capture files stay.
    !insertmacro REMOVE_INSTALL
SectionEnd
