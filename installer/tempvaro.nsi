; The Tempvaro setup: installs the signed program and its guide for all users under Program Files; scripts/release.sh
; builds it from the same staged files as the zip and signs it. A folder elsewhere takes a confirmation, or
; /ALLOWANYFOLDER when silent; wherever it is, only administrators may change it.
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
!define /math SECURITY_ATTRIBUTES_SIZE ${NSIS_PTR_SIZE} * 3
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempvaro"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHORTCUT "$SMPROGRAMS\Tempvaro.lnk"

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

; $0 is 1 when $INSTDIR, made absolute, lies inside one of the machine's Program Files folders, else 0.
Function InsideProgramFiles
    System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
    ${If} $0 = 0
        Return
    ${EndIf}
    StrCpy $0 0
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
        ${EndIf}
    ${Next}
FunctionEnd

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

; A silent setup may name the time servers with /SERVER1= to /SERVER3=; the interactive one ignores them. A name that
; is not a host name stops the setup before anything is installed; an empty one is the slot's built-in name.
Function CheckServerSwitches
    ${GetParameters} $R1
    ${ForEach} $R2 1 ${TIME_SERVER_COUNT} + 1
        ClearErrors
        ${GetOptions} $R1 "/SERVER$R2=" $1
        ${IfNot} ${Errors}
        ${AndIf} $1 != ""
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
        ClearErrors
        ${GetOptions} $R1 "/SERVER$R2=" $1
        ${If} ${Errors}
            ${Continue}
        ${ElseIf} $1 == ""
            DeleteINIStr "$INSTDIR\NetTimeConfig.ini" "Config" "TimeServer$R2"
        ${Else}
            WriteINIStr "$INSTDIR\NetTimeConfig.ini" "Config" "TimeServer$R2" $1
        ${EndIf}
    ${Next}
FunctionEnd

; Only Program Files keeps the folders above the program out of other users' hands, and only there does the
; program's log-on start work. A silent setup installs elsewhere only when told to.
Function .onInit
    SetShellVarContext all
    ${If} ${Silent}
        Call CheckServerSwitches
        Call InsideProgramFiles
        ${GetParameters} $1
        ClearErrors
        ${GetOptions} $1 "/ALLOWANYFOLDER" $2
        ${If} $0 = 0
        ${AndIf} ${Errors}
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}
FunctionEnd

Function ConfirmFolder
    Call InsideProgramFiles
    ${If} $0 = 0
        MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
            "所选文件夹不在 Program Files 中。$\r$\n$\r$\n装在这里，“开机自动运行”不能使用；能修改上级文件夹的用户还可能替换本程序，\
            而它以管理员身份运行。$\r$\n$\r$\n仍要安装到这个文件夹吗？" IDYES +2
        Abort
    ${EndIf}
FunctionEnd

; Makes $INSTDIR, if new, with the folder's permissions from the start, then sets its owner and permissions, which
; reach what is already in it. $0 is 0 on success.
Function ProtectInstallFolder
    StrCpy $0 1
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${FOLDER_SDDL}", \
        i ${SDDL_REVISION_1}, *p .r1, p 0) i .r2'
    ${If} $2 = 0
        Return
    ${EndIf}
    ${GetParent} "$INSTDIR" $3
    CreateDirectory $3
    ; SECURITY_ATTRIBUTES, zeroed: its size, the descriptor one pointer in, no handle inheritance.
    System::Alloc ${SECURITY_ATTRIBUTES_SIZE}
    Pop $4
    System::Call '*$4(i ${SECURITY_ATTRIBUTES_SIZE})'
    IntOp $7 $4 + ${NSIS_PTR_SIZE}
    System::Call '*$7(p r1)'
    System::Call 'kernel32::CreateDirectoryW(w "$INSTDIR", p r4)'
    System::Free $4
    System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r5, *i .r3) i .r2'
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r3, *p .r6, *i .r3) i .r3'
    ${If} $2 <> 0
    ${AndIf} $3 <> 0
        System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, \
            i ${OWNER_AND_PROTECTED_DACL}, p r5, p 0, p r6, p 0) i .r0'
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

; A running program cannot be overwritten or deleted on Windows, but it can be renamed: it goes on running from the
; new name, which Windows deletes at its next start, and the new program takes the old name.
Function MoveRunningProgramAside
    ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
        ClearErrors
        Delete "$INSTDIR\${PROGRAM}"
        ${If} ${Errors}
            GetTempFileName $0 "$INSTDIR"
            Delete $0
            Rename "$INSTDIR\${PROGRAM}" $0
            Delete /REBOOTOK $0
        ${EndIf}
    ${EndIf}
FunctionEnd

Section
    Call ProtectInstallFolder
    ${If} $0 <> 0
        RMDir "$INSTDIR"
        SetErrorLevel 2
        MessageBox MB_OK|MB_ICONSTOP "无法设置安装文件夹的权限，安装已取消。" /SD IDOK
        Abort
    ${EndIf}
    SetOutPath "$INSTDIR"
    ; A file written over keeps its owner and permissions: the setup's files are made anew.
    Call MoveRunningProgramAside
    Delete "$INSTDIR\${GUIDE}"
    Delete "$INSTDIR\${UNINSTALLER}"
    File "${STAGE}/${PROGRAM}"
    File "/oname=${GUIDE}" "${STAGE}/README.txt"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}"
    ${If} ${Silent}
        Call WriteServerSwitches
    ${EndIf}

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tempvaro"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

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
    Delete /REBOOTOK "$INSTDIR\${PROGRAM}"
    Delete "$INSTDIR\${GUIDE}"
    Delete "$INSTDIR\NetTimeConfig.ini"
    Delete /REBOOTOK "$INSTDIR\Chronvik.exe"
    Delete "$INSTDIR\${UNINSTALLER}"
    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Only when empty: a file of the user's own in the folder stays, and so does the folder.
    RMDir /REBOOTOK "$INSTDIR"
SectionEnd
