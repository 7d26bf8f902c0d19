; The Tempvaro setup: installs the signed program and its guide for all users under Program Files; scripts/release.sh
; builds it from the same staged files as the zip and signs it. A folder elsewhere takes a confirmation, or
; /ALLOWANYFOLDER when silent (and /ALLOWWRITABLEPARENTS where others may change a folder above it); wherever it is,
; the folder is new or an earlier install's, and only administrators may change it or anything in it.
;
; Defines from release.sh: VERSION (major.minor), PUBLISHER, STAGE (the folder holding Tempvaro.exe and README.txt),
; ICON, OUTFILE, SIGN (a command that signs and verifies the file it is given, in place) and, for the x86-64
; program, TARGET=amd64-unicode.

Unicode true
!ifdef TARGET
Target ${TARGET}
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!define PROGRAM "Tempvaro.exe"
!define UNINSTALLER "uninst.exe"
; The guide's own name, which no other program's file in a shared folder has.
!define GUIDE "Tempvaro 使用说明.txt"
; The program names each user's log-on task by this prefix and the user's SID; earlier builds used the old name.
!define TASK_PREFIX "Tempvaro-"
!define OLD_TASK_NAME "Tempvaro"
; The install folder, owned by Administrators: SYSTEM, Administrators and TrustedInstaller have full control, Users
; read and run, and nothing comes from the folder above. Both programs here are started elevated.
!define TRUSTED_INSTALLER "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
!define FOLDER_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;${TRUSTED_INSTALLER})(A;OICI;0x1200a9;;;BU)"
!define SDDL_REVISION_1 1
!define SE_FILE_OBJECT 1
; OWNER_, DACL_ and PROTECTED_DACL_SECURITY_INFORMATION
!define OWNER_AND_PROTECTED_DACL 0x80000005
!define OWNER_AND_DACL 5
!define PROGRESS_INVOKE_NEVER 1
!define /math SECURITY_ATTRIBUTES_SIZE ${NSIS_PTR_SIZE} * 3
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempvaro"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHORTCUT "$SMPROGRAMS\Tempvaro.lnk"

; The Program Files folder that holds $INSTDIR; the folder's handle, held from its locking to the setup's end; how many
; folders were missing above it, and how many of them the setup made; whether a deletion at the next start is safe.
Var ProgramFilesFolder
Var FolderHandle
Var MissingFolders
Var MadeFolders
Var RebootOk
; The names the earlier program, guide and uninstaller are set aside under; the uninstaller moved out of its folder.
Var EarlierProgram
Var EarlierGuide
Var EarlierUninstaller
Var MovedUninstaller

Name "Tempvaro ${VERSION}"
OutFile "${OUTFILE}"
!if ${NSIS_PTR_SIZE} > 4
InstallDir "$PROGRAMFILES64\Tempvaro"
!else
InstallDir "$PROGRAMFILES\Tempvaro"
!endif
; A copy installed elsewhere with /D= is replaced where it is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=2052 "ProductName" "Tempvaro"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "Tempvaro ${VERSION} Setup"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"

; The uninstaller is signed before it is packed, so that the one the setup writes carries the vendor's signature too.
!uninstfinalize '"${SIGN}" "%1"' = 0

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ConfirmFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

!define TIME_SERVER_COUNT 3
!define HOST_CHARACTERS "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-."
!define ERROR_INVALID_PARAMETER 87

; $0 is 1 when $1 is a host name as the program's servers dialog has it: letters, digits, hyphens and dots, in labels
; of 1 to 63 characters, at most 253 in all.
Function IsHostName
    StrCpy $0 0
    StrLen $2 $1
    ${If} $2 < 1
    ${OrIf} $2 > 253
        Return
    ${EndIf}
    ; Characters compared by their codes: a locale's comparison could let a look-alike pass.
    System::Call 'msvcrt::wcsspn(w r1, w "${HOST_CHARACTERS}") i .r3 ?c'
    ${IfThen} $3 <> $2 ${|} Return ${|}
    ; The length of the label so far; the end of the name ends the last label.
    StrCpy $3 0
    ${ForEach} $4 0 $2 + 1
        StrCpy $5 $1 1 $4
        ${If} $5 == "."
        ${OrIf} $5 == ""
            ${IfThen} $3 = 0 ${|} Return ${|}
            StrCpy $3 0
        ${Else}
            IntOp $3 $3 + 1
            ${IfThen} $3 > 63 ${|} Return ${|}
        ${EndIf}
    ${Next}
    StrCpy $0 1
FunctionEnd

!define WEB_PREFIX "http://"
; A web time server's slot holds "http://", in any case, and a host name: $1 is left holding the host, and $3 the
; prefix as the program reads it, or nothing.
Function SplitWebPrefix
    StrLen $5 "${WEB_PREFIX}"
    StrCpy $4 $1 $5
    StrCpy $3 ""
    ${If} $4 == "${WEB_PREFIX}"
        StrCpy $1 $1 "" $5
        StrCpy $3 "${WEB_PREFIX}"
    ${EndIf}
FunctionEnd

; $1 is the value of the switch /SERVER$R2= in $R1, up to the next space or quote, and $0 is 1; or $0 is 0 when the
; switch is not there. Read here, as GetOptions would end a value at its first slash.
Function ServerSwitch
    StrCpy $0 0
    StrCpy $1 ""
    StrCpy $2 "/SERVER$R2="
    StrLen $3 $2
    StrLen $4 $R1
    ${ForEach} $5 0 $4 + 1
        StrCpy $6 $R1 $3 $5
        ${If} $6 == $2
            StrCpy $0 1
            IntOp $5 $5 + $3
            ${Do}
                StrCpy $6 $R1 1 $5
                ${If} $6 == " "
                ${OrIf} $6 == '"'
                ${OrIf} $6 == ""
                    Return
                ${EndIf}
                StrCpy $1 "$1$6"
                IntOp $5 $5 + 1
            ${Loop}
        ${EndIf}
    ${Next}
FunctionEnd

; A silent setup may name the time servers with /SERVER1= to /SERVER3=; the interactive one ignores them. A name that
; is not a host name, or "http://" and one, stops the setup before anything is installed; an empty one is the slot's
; built-in name.
Function CheckServerSwitches
    ${GetParameters} $R1
    ${ForEach} $R2 1 ${TIME_SERVER_COUNT} + 1
        Call ServerSwitch
        ${If} $0 = 1
        ${AndIf} $1 != ""
            Call SplitWebPrefix
            Call IsHostName
            ${If} $0 = 0
                SetErrorLevel ${ERROR_INVALID_PARAMETER}
                Quit
            ${EndIf}
        ${EndIf}
    ${Next}
FunctionEnd

; The names the silent setup was given go into the program's settings file, every other key kept.
Function WriteServerSwitches
    ${GetParameters} $R1
    ${ForEach} $R2 1 ${TIME_SERVER_COUNT} + 1
        Call ServerSwitch
        ${If} $0 = 0
            ${Continue}
        ${ElseIf} $1 == ""
            DeleteINIStr "$INSTDIR\NetTimeConfig.ini" "Config" "TimeServer$R2"
        ${Else}
            Call SplitWebPrefix
            WriteINIStr "$INSTDIR\NetTimeConfig.ini" "Config" "TimeServer$R2" "$3$1"
        ${EndIf}
    ${Next}
FunctionEnd

; $0 is 1 when $INSTDIR does not exist yet, or holds an earlier install of this program (its program and its
; uninstaller), else 0: the setup re-permissions everything in its folder, so it never takes one that holds another
; program's files, nor a drive's root.
Function InstallDirIsOurs
    StrCpy $0 1
    System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR") i .r1'
    ${If} $1 <> -1
        StrCpy $0 0
        ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
        ${AndIf} ${FileExists} "$INSTDIR\${UNINSTALLER}"
            StrCpy $0 1
        ${EndIf}
    ${EndIf}
    System::Call 'shlwapi::PathIsRootW(w "$INSTDIR") i .r1'
    ${IfThen} $1 <> 0 ${|} StrCpy $0 0 ${|}
FunctionEnd

!define CHANGE_RIGHTS 0x500D0046
!define INHERIT_ONLY_ACE 8
!define ACCESS_ALLOWED_ACE_TYPE 0
!define ACCESS_DENIED_ACE_TYPE 1
; The folder rules, which the setup and the uninstaller both apply.
!macro FOLDER_RULES UN
; Makes $INSTDIR absolute, with the long name of each of its folders that exists: C:\PROGRA~1 is Program Files.
Function ${UN}LongInstallDir
    System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
    ${If} $0 = 0
    ${OrIf} $0 >= ${NSIS_MAX_STRLEN}
        Return
    ${EndIf}
    ; $2 holds the part that does not exist yet, which has no other name.
    StrCpy $2 ""
    ${Do}
        System::Call 'kernel32::GetLongPathNameW(w r1, w .r3, i ${NSIS_MAX_STRLEN}) i .r0'
        ${If} $0 > 0
        ${AndIf} $0 < ${NSIS_MAX_STRLEN}
            StrCpy $INSTDIR "$3$2"
            Return
        ${EndIf}
        ${GetFileName} $1 $3
        StrCpy $2 "\$3$2"
        ${GetParent} $1 $1
    ${LoopUntil} $1 == ""
FunctionEnd

; $0 is 1 when $INSTDIR, made absolute and long, lies inside one of the machine's Program Files folders, which
; $ProgramFilesFolder then names, else 0 and that is empty.
Function ${UN}InsideProgramFiles
    Call ${UN}LongInstallDir
    StrCpy $1 $INSTDIR
    StrCpy $0 0
    StrCpy $ProgramFilesFolder ""
    ; The 64-bit folder is the same as the other on 32-bit Windows.
    ${ForEach} $2 1 2 + 1
        ${If} $2 = 1
            StrCpy $3 "$PROGRAMFILES32\"
        ${Else}
            StrCpy $3 "$PROGRAMFILES64\"
        ${EndIf}
        StrLen $4 $3
        StrCpy $5 $1 $4
        StrCpy $6 $1 "" $4
        ; StrCmp ignores case, as the file system does.
        ${If} $5 == $3
        ${AndIf} $6 != ""
            StrCpy $0 1
            StrCpy $ProgramFilesFolder $3 -1
        ${EndIf}
    ${Next}
FunctionEnd

; $R9 is 1 for the SID at $R8 when it is SYSTEM, Administrators or TrustedInstaller, 2 for CREATOR OWNER, else 0.
Function ${UN}AdministrativeSid
    Push $0
    Push $1
    StrCpy $R9 0
    StrCpy $0 0
    System::Call 'advapi32::ConvertSidToStringSidW(p R8, *p .r0)'
    ${If} $0 P<> 0
        System::Call 'kernel32::lstrcpynW(w .r1, p r0, i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::LocalFree(p r0)'
        ${If} $1 == "S-1-5-18"
        ${OrIf} $1 == "S-1-5-32-544"
        ${OrIf} $1 == "${TRUSTED_INSTALLER}"
            StrCpy $R9 1
        ${ElseIf} $1 == "S-1-3-0"
            StrCpy $R9 2
        ${EndIf}
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

; $R1 is 1 when only SYSTEM, Administrators and TrustedInstaller may change the folder $R0, by the rule the program's
; log-on start applies (OnlyAdministratorsMayChange in settings/program_guard.cpp): one of them owns it, and every ACE
; that allows writing, appending, deleting, deleting a child, re-permissioning or taking over names one of them, or
; CREATOR OWNER on an ACE that only passes on to what is made inside; a deny takes nothing away, and any other kind of
; ACE is not read and so not trusted. Else 0.
Function ${UN}OnlyAdministratorsMayChange
    StrCpy $R1 0
    System::Call 'advapi32::GetNamedSecurityInfoW(w R0, i ${SE_FILE_OBJECT}, i ${OWNER_AND_DACL}, *p .R8, p 0, \
        *p .R2, p 0, *p .R3) i .R4'
    ${If} $R4 <> 0
        Return
    ${EndIf}
    Call ${UN}AdministrativeSid
    ; No DACL at all lets everyone do anything.
    ${If} $R9 = 1
    ${AndIf} $R2 P<> 0
        ; The ACL's header: revision, padding, size, the number of ACEs.
        System::Call '*$R2(&i2, &i2, &i2 .R4)'
        StrCpy $R1 1
        StrCpy $R5 0
        ${DoWhile} $R5 < $R4
            System::Call 'advapi32::GetAce(p R2, i R5, *p .R6)'
            IntOp $R5 $R5 + 1
            ; The ACE's type, flags, size and mask; an allowing or denying ACE's SID follows.
            System::Call '*$R6(&i1 .R7, &i1 .R0, &i2, i .R8)'
            IntOp $R8 $R8 & ${CHANGE_RIGHTS}
            ${IfThen} $R7 = ${ACCESS_DENIED_ACE_TYPE} ${|} ${Continue} ${|}
            ${If} $R7 <> ${ACCESS_ALLOWED_ACE_TYPE}
                StrCpy $R1 0
                ${ExitDo}
            ${EndIf}
            ${IfThen} $R8 = 0 ${|} ${Continue} ${|}
            IntOp $R8 $R6 + 8
            Call ${UN}AdministrativeSid
            IntOp $R0 $R0 & ${INHERIT_ONLY_ACE}
            ${IfThen} $R9 = 1 ${|} ${Continue} ${|}
            ${If} $R9 = 2
            ${AndIf} $R0 <> 0
                ${Continue}
            ${EndIf}
            StrCpy $R1 0
            ${ExitDo}
        ${Loop}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p R3)'
FunctionEnd

; $0 is 1 when only administrators may change each folder above $INSTDIR that exists, up to the drive's root, which
; cannot be renamed, or up to $ProgramFilesFolder, Windows' own; else 0, and $R0 names the first that others may
; change. Whoever may change one could rename it and put her own program and uninstaller where the shortcut and
; Programs and Features start them elevated, or where a deletion at the next start would reach. A missing one the
; setup makes locked.
Function ${UN}FoldersAboveOnlyAdministrators
    StrCpy $0 1
    ${GetParent} "$INSTDIR" $R0
    ${Do}
        ${IfThen} $R0 == $ProgramFilesFolder ${|} ${ExitDo} ${|}
        System::Call 'shlwapi::PathIsRootW(w "$R0\") i .r1'
        System::Call 'kernel32::GetFileAttributesW(w R0) i .r2'
        ${IfThen} $1 <> 0 ${|} ${ExitDo} ${|}
        ${If} $2 <> -1
            Push $R0
            Call ${UN}OnlyAdministratorsMayChange
            Pop $R0
            ${If} $R1 = 0
                StrCpy $0 0
                ${ExitDo}
            ${EndIf}
        ${EndIf}
        ${GetParent} $R0 $R0
    ${LoopUntil} $R0 == ""
FunctionEnd
!macroend
!insertmacro FOLDER_RULES ""
!insertmacro FOLDER_RULES "un."

; A silent setup exits with code 2, having changed nothing, unless the folder is new or an earlier install's, lies
; inside Program Files or elsewhere with /ALLOWANYFOLDER, and has above it (up to Program Files or the drive's root)
; only folders that only administrators may change, or those too with /ALLOWWRITABLEPARENTS.
Function RefuseFolderWhenSilent
    Call InsideProgramFiles
    StrCpy $7 $0
    Call InstallDirIsOurs
    ${GetParameters} $8
    ${If} $0 = 1
        ClearErrors
        ${GetOptions} $8 "/ALLOWWRITABLEPARENTS" $9
        ${IfThen} ${Errors} ${|} Call FoldersAboveOnlyAdministrators ${|}
        ClearErrors
        ${GetOptions} $8 "/ALLOWANYFOLDER" $9
        ${If} ${Errors}
        ${AndIf} $7 = 0
            StrCpy $0 0
        ${EndIf}
    ${EndIf}
    ${If} $0 = 0
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd

; The guide as earlier setups installed it, README.txt, a name other programs' files have too: it goes when it is
; one that they shipped, by its SHA-256. A README.txt of any other content is not ours and stays.
; Longer than any of them.
!define OLD_GUIDE_LIMIT 16384
!define GENERIC_READ 0x80000000
!define FILE_SHARE_READ 1
!define OPEN_EXISTING 3
!define PROV_RSA_AES 24
!define CRYPT_VERIFYCONTEXT 0xF0000000
!define CALG_SHA_256 0x800c
!define HP_HASHVAL 2
; CRYPT_STRING_HEXRAW and CRYPT_STRING_NOCRLF
!define HEX_WITHOUT_BREAKS 0x4000000c
!macro REMOVE_OLD_GUIDE UN
Function ${UN}RemoveOldGuide
    StrCpy $R0 ""
    System::Call 'kernel32::CreateFileW(w "$INSTDIR\README.txt", i ${GENERIC_READ}, i ${FILE_SHARE_READ}, p 0, \
        i ${OPEN_EXISTING}, i 0, p 0) p .r0'
    ${If} $0 P= -1
        Return
    ${EndIf}
    System::Call 'kernel32::GetFileSize(p r0, p 0) i .r1'
    ${If} $1 < ${OLD_GUIDE_LIMIT}
        System::Alloc ${OLD_GUIDE_LIMIT}
        Pop $2
        System::Call 'kernel32::ReadFile(p r0, p r2, i ${OLD_GUIDE_LIMIT}, *i .r1, p 0)'
        System::Call 'advapi32::CryptAcquireContextW(*p .r3, p 0, p 0, i ${PROV_RSA_AES}, \
            i ${CRYPT_VERIFYCONTEXT}) i .r4'
        ${If} $4 <> 0
            System::Call 'advapi32::CryptCreateHash(p r3, i ${CALG_SHA_256}, p 0, i 0, *p .r5) i .r6'
            ${If} $6 <> 0
                System::Call 'advapi32::CryptHashData(p r5, p r2, i r1, i 0)'
                System::Call 'advapi32::CryptGetHashParam(p r5, i ${HP_HASHVAL}, p r2, *i 32, i 0) i .r6'
                ${If} $6 <> 0
                    System::Call 'crypt32::CryptBinaryToStringW(p r2, i 32, i ${HEX_WITHOUT_BREAKS}, w .R0, \
                        *i ${NSIS_MAX_STRLEN})'
                ${EndIf}
                System::Call 'advapi32::CryptDestroyHash(p r5)'
            ${EndIf}
            System::Call 'advapi32::CryptReleaseContext(p r3, i 0)'
        ${EndIf}
        System::Free $2
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} $R0 == "f883f794cd959e3156711a9c3f51815b442f67f6090b1d2130fc328fc1505fd1"
    ${OrIf} $R0 == "1a81db4ef855262305ef32fcc00869f4bbb9133086c021a9b779eecc51316fda"
    ${OrIf} $R0 == "f980f847a1167c3e2b052ef5c7bc64ddcfdaa4d4cb0bf5e0fa690e7216fe74c6"
    ${OrIf} $R0 == "55ba166fef387f29c9e22edd69a3a935a82edff13ffc818cfa7723ef324cd405"
    ${OrIf} $R0 == "6552e12c70047763f1316659b761939284cb18fe1233a92313efef51c14293cf"
    ${OrIf} $R0 == "36ee12ecb96248065f9b376cca2807767f681ec9d8c02c73ac371455e0b5e38d"
        Delete "$INSTDIR\README.txt"
    ${EndIf}
FunctionEnd
!macroend
!insertmacro REMOVE_OLD_GUIDE ""
!insertmacro REMOVE_OLD_GUIDE "un."

Function .onInit
    SetShellVarContext all
    StrCpy $EarlierProgram "*"
    StrCpy $EarlierGuide "*"
    StrCpy $EarlierUninstaller "*"
    ${If} ${Silent}
        Call CheckServerSwitches
        Call RefuseFolderWhenSilent
    ${EndIf}
FunctionEnd

Function ConfirmFolder
    Call InsideProgramFiles
    StrCpy $7 $0
    Call InstallDirIsOurs
    ${If} $0 = 0
        MessageBox MB_OK|MB_ICONSTOP "“$INSTDIR”已经存在，里面不是本程序以前的安装。$\r$\n$\r$\n安装程序会把安装文件夹及其中所有文件的\
            所有者和权限改为只有管理员能修改，所以只安装到新文件夹或以前的安装文件夹中。请另选一个文件夹。"
        Abort
    ${EndIf}
    ${If} $7 = 0
        MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
            "所选文件夹不在 Program Files 中。$\r$\n$\r$\n装在这里，“开机自动运行”不能使用；能修改上级文件夹的用户还可能替换本程序，\
            而它以管理员身份运行。$\r$\n$\r$\n仍要安装到这个文件夹吗？" IDYES +2
        Abort
        Return
    ${EndIf}
    Call FoldersAboveOnlyAdministrators
    ${If} $0 = 0
        MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
            "上级文件夹“$R0”不是只有管理员能修改。$\r$\n$\r$\n装在这里，“开机自动运行”不能使用；能修改它的用户还可能替换本程序，\
            而它以管理员身份运行。$\r$\n$\r$\n仍要安装到这个文件夹吗？" IDYES +2
        Abort
    ${EndIf}
FunctionEnd

; Makes $INSTDIR and each folder above it that is missing, with the locked permissions from the start; each must be
; made here, as a folder that appears meanwhile is someone else's. Then opens $INSTDIR and holds it, so that neither it
; nor a folder above it can be renamed until the setup ends, and refuses it if it or a folder above it is a link or a
; junction (its final path is another), or if, existing, it is no earlier install or holds a folder or a link; then
; gives the folder, by its handle, and everything in it Administrators as owner and the locked permissions alone: a
; file that a user made while the folder was open to users (a NetTimeConfig.ini naming the servers the elevated set
; trusts) would otherwise stay hers. $0 is 0 on success.
!define FOLDER_ACCESS 0x000E0080
!define FILE_SHARE_READ_WRITE 3
; FILE_FLAG_BACKUP_SEMANTICS, to open a folder, and FILE_FLAG_OPEN_REPARSE_POINT, to open a link itself.
!define FOLDER_FLAGS 0x02200000
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define BY_HANDLE_FILE_INFORMATION_SIZE 52
Function ProtectInstallFolder
    StrCpy $0 1
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${FOLDER_SDDL}", \
        i ${SDDL_REVISION_1}, *p .r1, p 0) i .r2'
    ${If} $2 = 0
        Return
    ${EndIf}
    ; SECURITY_ATTRIBUTES, zeroed: its size, the descriptor one pointer in, no handle inheritance.
    System::Alloc ${SECURITY_ATTRIBUTES_SIZE}
    Pop $4
    System::Call '*$4(i ${SECURITY_ATTRIBUTES_SIZE})'
    IntOp $7 $4 + ${NSIS_PTR_SIZE}
    System::Call '*$7(p r1)'
    ; The missing folders go on the stack, the deepest first, and are made from the top down.
    StrCpy $3 $INSTDIR
    StrCpy $8 0
    ${Do}
        System::Call 'kernel32::GetFileAttributesW(w r3) i .r2'
        ${IfThen} $2 <> -1 ${|} ${ExitDo} ${|}
        Push $3
        IntOp $8 $8 + 1
        ${GetParent} $3 $3
    ${LoopUntil} $3 == ""
    StrCpy $MissingFolders $8
    StrCpy $MadeFolders 0
    StrCpy $9 0
    ${DoWhile} $8 > 0
        Pop $3
        IntOp $8 $8 - 1
        ${If} $9 = 0
            System::Call 'kernel32::CreateDirectoryW(w r3, p r4) i .r2'
            ${IfThen} $2 = 0 ${|} StrCpy $9 1 ${|}
            ${IfThen} $2 <> 0 ${|} IntOp $MadeFolders $MadeFolders + 1 ${|}
        ${EndIf}
    ${Loop}
    System::Free $4
    ${If} $9 = 0
        System::Call 'kernel32::CreateFileW(w "$INSTDIR", i ${FOLDER_ACCESS}, i ${FILE_SHARE_READ_WRITE}, p 0, \
            i ${OPEN_EXISTING}, i ${FOLDER_FLAGS}, p 0) p .r7'
        StrCpy $FolderHandle $7
        System::Call 'kernel32::GetFinalPathNameByHandleW(p r7, w .r3, i ${NSIS_MAX_STRLEN}, i 0)'
        System::Alloc ${BY_HANDLE_FILE_INFORMATION_SIZE}
        Pop $4
        System::Call 'kernel32::GetFileInformationByHandle(p r7, p r4) i .r2'
        System::Call '*$4(i .r8)'
        System::Free $4
        IntOp $8 $8 & ${FILE_ATTRIBUTE_REPARSE_POINT}
        ${IfThen} $2 = 0 ${|} StrCpy $8 1 ${|}
        ${IfThen} $3 != "\\?\$INSTDIR" ${|} StrCpy $8 1 ${|}
        ${If} $MissingFolders = 0
            Push $1
            Call InstallDirIsOurs
            Pop $1
            ${IfThen} $0 = 0 ${|} StrCpy $8 1 ${|}
            FindFirst $2 $3 "$INSTDIR\*"
            ${DoWhile} $3 != ""
                ${If} $3 != "."
                ${AndIf} $3 != ".."
                    System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR\$3") i .r4'
                    IntOp $4 $4 & ${FILE_ATTRIBUTE_DIRECTORY}|${FILE_ATTRIBUTE_REPARSE_POINT}
                    ${IfThen} $4 <> 0 ${|} StrCpy $8 1 ${|}
                ${EndIf}
                FindNext $2 $3
            ${Loop}
            FindClose $2
        ${EndIf}
        StrCpy $0 1
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r5, *i .r3) i .r2'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r3, *p .r6, *i .r3) i .r3'
        ${If} $8 = 0
        ${AndIf} $2 <> 0
        ${AndIf} $3 <> 0
            System::Call 'advapi32::SetSecurityInfo(p r7, i ${SE_FILE_OBJECT}, i ${OWNER_AND_PROTECTED_DACL}, p r5, \
                p 0, p r6, p 0) i .r0'
            ; Not keeping explicit entries: everything inside gets the folder's inherited permissions alone.
            ${If} $0 = 0
                System::Call 'advapi32::TreeResetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, \
                    i ${OWNER_AND_PROTECTED_DACL}, p r5, p 0, p r6, p 0, i 0, p 0, i ${PROGRESS_INVOKE_NEVER}, \
                    p 0) i .r0'
            ${EndIf}
        ${EndIf}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

; The setup's own file NAME, set aside under a new name in VAR ("" when there is none), to be put back if the setup
; fails; a running program can be renamed but not replaced, and a file written over would keep its owner and
; permissions. A file that cannot be set aside fails the setup.
!macro SET_ASIDE NAME VAR
    StrCpy ${VAR} ""
    ${If} ${FileExists} "$INSTDIR\${NAME}"
        GetTempFileName $0 "$INSTDIR"
        Delete $0
        ClearErrors
        Rename "$INSTDIR\${NAME}" $0
        ${IfThen} ${Errors} ${|} Goto failed ${|}
        StrCpy ${VAR} $0
    ${EndIf}
!macroend
; A running program set aside goes at the next start, where no user could have put something else in its place.
!macro DROP_ASIDE VAR
    ${If} ${VAR} != ""
        Delete ${VAR}
        ${IfThen} $RebootOk = 1 ${|} Delete /REBOOTOK ${VAR} ${|}
    ${EndIf}
!macroend
; "*" until the file is set aside: a setup that fails before leaves it as it is.
!macro PUT_BACK NAME VAR
    ${If} ${VAR} != "*"
        Delete "$INSTDIR\${NAME}"
        ${IfThen} ${VAR} != "" ${|} Rename ${VAR} "$INSTDIR\${NAME}" ${|}
    ${EndIf}
!macroend

Section
    Call InsideProgramFiles
    Call FoldersAboveOnlyAdministrators
    StrCpy $RebootOk $0
    Call ProtectInstallFolder
    ${If} $0 <> 0
        MessageBox MB_OK|MB_ICONSTOP "无法设置安装文件夹的权限，安装已取消。" /SD IDOK
        Abort
    ${EndIf}
    SetOutPath "$INSTDIR"
    !insertmacro SET_ASIDE "${PROGRAM}" $EarlierProgram
    !insertmacro SET_ASIDE "${GUIDE}" $EarlierGuide
    !insertmacro SET_ASIDE "${UNINSTALLER}" $EarlierUninstaller
    ; A silent setup answers Ignore when a file cannot be written, and goes on with the error flag set.
    ClearErrors
    File "${STAGE}/${PROGRAM}"
    File "/oname=${GUIDE}" "${STAGE}/README.txt"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    ${IfThen} ${Errors} ${|} Goto failed ${|}
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tempvaro"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    ; Run in place, the uninstaller returns only when it is done (see un.onInit).
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    ; Last, so that a failure before leaves the entry naming the version that is there.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    ${If} ${Errors}
failed:
        MessageBox MB_OK|MB_ICONSTOP "无法写入安装文件，已恢复原来的安装，安装已取消。" /SD IDOK
        Abort
    ${EndIf}
    ${If} ${Silent}
        Call WriteServerSwitches
    ${EndIf}
    Call RemoveOldGuide
    !insertmacro DROP_ASIDE $EarlierProgram
    !insertmacro DROP_ASIDE $EarlierGuide
    !insertmacro DROP_ASIDE $EarlierUninstaller
    System::Call 'kernel32::CloseHandle(p $FolderHandle)'
SectionEnd

; Puts back the earlier install's files, or removes the new ones and the folders the setup made, and exits non-zero.
Function .onInstFailed
    !insertmacro PUT_BACK "${PROGRAM}" $EarlierProgram
    !insertmacro PUT_BACK "${GUIDE}" $EarlierGuide
    !insertmacro PUT_BACK "${UNINSTALLER}" $EarlierUninstaller
    ${IfThen} $EarlierProgram == "" ${|} Delete "${SHORTCUT}" ${|}
    System::Call 'kernel32::CloseHandle(p $FolderHandle)'
    ; The folders made are the topmost of those that were missing.
    StrCpy $3 $INSTDIR
    IntOp $5 $MissingFolders - $MadeFolders
    ${ForEach} $4 1 $MissingFolders + 1
        ${IfThen} $4 > $5 ${|} RMDir $3 ${|}
        ${GetParent} $3 $3
    ${Next}
    SetErrorLevel 2
FunctionEnd

; Run in place, as the registered quiet uninstall runs it (_?= names the folder), the uninstaller is the process its
; caller waits for, and it moves its running image out of the folder, which it could not otherwise empty. A deletion
; at the next start is only for a folder above which only administrators may change anything.
!define FILE_TYPE_DISK 1
; More than the uninstaller opens.
!define HANDLE_LIMIT 4096
Function un.onInit
    SetShellVarContext all
    ${If} $EXEDIR == $INSTDIR
        InitPluginsDir
        ; NSIS holds its own file open without delete sharing, and reads nothing more from it once the plug-in that
        ; this call brings out is out: that handle, the one on a disk file of this path, is closed.
        StrCpy $1 4
        ${Do}
            System::Call 'kernel32::GetFileType(p r1) i .r0'
            ${If} $0 = ${FILE_TYPE_DISK}
                System::Call 'kernel32::GetFinalPathNameByHandleW(p r1, w .r2, i ${NSIS_MAX_STRLEN}, i 0)'
                ${If} $2 == "\\?\$EXEPATH"
                    System::Call 'kernel32::CloseHandle(p r1)'
                ${EndIf}
            ${EndIf}
            IntOp $1 $1 + 4
        ${LoopUntil} $1 > ${HANDLE_LIMIT}
        System::Call 'kernel32::MoveFileExW(w "$EXEPATH", w "$PLUGINSDIR\${UNINSTALLER}", i 0) i .r0'
        ${IfThen} $0 <> 0 ${|} StrCpy $MovedUninstaller "$PLUGINSDIR\${UNINSTALLER}" ${|}
    ${EndIf}
    Call un.InsideProgramFiles
    Call un.FoldersAboveOnlyAdministrators
    StrCpy $RebootOk $0
FunctionEnd

Function un.onUninstFailed
    ${IfThen} $MovedUninstaller != "" ${|} Rename $MovedUninstaller "$INSTDIR\${UNINSTALLER}" ${|}
FunctionEnd

!define CLSID_TaskScheduler "{0f87369f-a4e5-4cfc-bd3e-73e6154572dd}"
!define IID_ITaskService "{2faba4c7-4da9-4013-9697-20cc3fd40f85}"
!define IID_IRegisteredTask "{9c86f320-dee3-4dd1-b972-a303f26b061e}"
!define IID_IEnumVARIANT "{00020404-0000-0000-c000-000000000046}"
!define TASK_ENUM_HIDDEN 1
!define VT_DISPATCH 9
!define PROFILE_LIST_KEY "Software\Microsoft\Windows NT\CurrentVersion\ProfileList"

; Deletes every task of the program in the Task Scheduler's root folder, whoever it belongs to: the prefix and a
; user's SID, or the single task of the old name of earlier builds. Through the Task Scheduler 2.0 COM interfaces, by vtable
; index: QueryInterface 0, Release 2; ITaskService GetFolder 7, Connect 10; ITaskFolder GetTasks 14, DeleteTask 15;
; IRegisteredTaskCollection _NewEnum 9; IEnumVARIANT Next 3; IRegisteredTask Name 7. Connect takes four VARIANTs by
; value: 16 bytes each on the stack for x86, a pointer to a copy for x86-64.
Function un.DeleteLogonTasks
    System::Call 'ole32::CoInitializeEx(p 0, i 2) i .r8'
    System::Call 'ole32::CoCreateInstance(g "${CLSID_TaskScheduler}", p 0, i 1, g "${IID_ITaskService}", *p .r0) i .r9'
    ${If} $9 <> 0
        Goto uninitialise
    ${EndIf}
!if ${NSIS_PTR_SIZE} > 4
    System::Call '*(l 0, l 0, l 0) p .r7'
    System::Call '$0->10(p r7, p r7, p r7, p r7) i .r9'
    System::Free $7
!else
    System::Call '$0->10(l 0, l 0, l 0, l 0, l 0, l 0, l 0, l 0) i .r9'
!endif
    ${If} $9 <> 0
        Goto service
    ${EndIf}
    System::Call 'oleaut32::SysAllocString(w "\") p .r7'
    System::Call '$0->7(p r7, *p .r1) i .r9'
    System::Call 'oleaut32::SysFreeString(p r7)'
    ${If} $9 <> 0
        Goto service
    ${EndIf}

    ; The names to delete go on the stack ($R1 counts them), and are deleted once the enumeration is over.
    Push "${OLD_TASK_NAME}"
    StrCpy $R1 1
    ; Every user who could have saved the setting has a profile, whose key is named by the user's SID.
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    StrCpy $R2 0
    ${Do}
        EnumRegKey $3 HKLM "${PROFILE_LIST_KEY}" $R2
        ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
        Push "${TASK_PREFIX}$3"
        IntOp $R1 $R1 + 1
        IntOp $R2 $R2 + 1
    ${Loop}
    SetRegView default
    ; And every task in the folder of such a name, a former user's too, where the tasks can be listed (Wine's
    ; collection cannot list them).
    System::Call '$1->14(i ${TASK_ENUM_HIDDEN}, *p .r2) i .r9'
    ${If} $9 <> 0
        Goto delete
    ${EndIf}
    System::Call '$2->9(*p .r3) i .r9'
    ${If} $9 = 0
        System::Call '$3->0(g "${IID_IEnumVARIANT}", *p .r4) i .r9'
        System::Call '$3->2()'
    ${EndIf}
    ${If} $9 = 0
        System::Call '*(l 0, l 0, l 0) p .r7'
        ${Do}
            System::Call '$4->3(i 1, p r7, p 0) i .r9'
            ${IfThen} $9 <> 0 ${|} ${ExitDo} ${|}
            System::Call '*$7(i .R2, i, p .r3)'
            IntOp $R2 $R2 & 0xFFFF
            StrCpy $9 1
            ${If} $R2 = ${VT_DISPATCH}
                System::Call '$3->0(g "${IID_IRegisteredTask}", *p .r5) i .r9'
            ${EndIf}
            System::Call 'oleaut32::VariantClear(p r7)'
            ${IfThen} $9 <> 0 ${|} ${Continue} ${|}
            System::Call '$5->7(*p .r6) i .r9'
            System::Call '$5->2()'
            ${IfThen} $9 <> 0 ${|} ${Continue} ${|}
            System::Call 'kernel32::lstrcpynW(w .r3, p r6, i ${NSIS_MAX_STRLEN})'
            System::Call 'oleaut32::SysFreeString(p r6)'
            StrLen $5 "${TASK_PREFIX}"
            StrCpy $5 $3 $5
            ${If} $5 == "${TASK_PREFIX}"
                Push $3
                IntOp $R1 $R1 + 1
            ${EndIf}
        ${Loop}
        System::Free $7
        System::Call '$4->2()'
    ${EndIf}
    System::Call '$2->2()'
delete:
    ; A name deleted twice, or one without a task, fails harmlessly.
    ${While} $R1 > 0
        Pop $3
        IntOp $R1 $R1 - 1
        System::Call 'oleaut32::SysAllocString(w r3) p .r7'
        System::Call '$1->15(p r7, i 0)'
        System::Call 'oleaut32::SysFreeString(p r7)'
    ${EndWhile}
    System::Call '$1->2()'
service:
    System::Call '$0->2()'
uninitialise:
    ; S_OK and S_FALSE both want a matching CoUninitialize; a thread already in another apartment does not.
    ${If} $8 >= 0
        System::Call 'ole32::CoUninitialize()'
    ${EndIf}
FunctionEnd

Section Uninstall
    Call un.DeleteLogonTasks
    DeleteRegValue HKLM "${RUN_KEY}" "${PROGRAM}"
    Delete "$INSTDIR\${PROGRAM}"
    Delete "$INSTDIR\${GUIDE}"
    Delete "$INSTDIR\NetTimeConfig.ini"
    Delete "$INSTDIR\Chronvik.exe"
    Delete "$INSTDIR\${UNINSTALLER}"
    Call un.RemoveOldGuide
    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Only when empty: a file of the user's own in the folder stays, and so does the folder.
    RMDir "$INSTDIR"
    ${If} $RebootOk = 1
        Delete /REBOOTOK "$INSTDIR\${PROGRAM}"
        Delete /REBOOTOK "$INSTDIR\Chronvik.exe"
        RMDir /REBOOTOK "$INSTDIR"
    ${EndIf}
SectionEnd
