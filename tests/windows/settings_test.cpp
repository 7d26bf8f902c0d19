// The settings file beside the program, the log-on task and the check that guards it, read back without the code
// under test: the file and the task's stored definition as they are on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/settings_boxes.h"
#include "platform/owned_handle.h"
#include "res/resource.h"
#include "settings/logon_start.h"
#include "settings/logon_task_xml.h"
#include "settings/program_guard.h"
#include "settings/settings.h"
#include "time/clock_lock.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::wstring WideProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::string ProgramName() {
    return ProgramPath().substr(ProgramPath().rfind('\\') + 1);
}

std::string SettingsPath() {
    const std::string program = ProgramPath();
    return program.substr(0, program.rfind('\\')) + "\\NetTimeConfig.ini";
}

// The Run value's data, or "<absent>".
std::string RunValue() {
    char data[512] = {};
    DWORD size = sizeof data;
    const LONG status =
        RegGetValueA(HKEY_LOCAL_MACHINE, kRunKey, ProgramName().c_str(), RRF_RT_REG_SZ, nullptr, data, &size);
    return status == ERROR_SUCCESS ? data : "<absent>";
}

// What an earlier build wrote for the log-on start.
void SetRunValue() {
    const std::string path = ProgramPath();
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, ProgramName().c_str(), REG_SZ, path.c_str(),
                              static_cast<DWORD>(path.size() + 1)),
              ERROR_SUCCESS);
}

void DeleteRunValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, ProgramName().c_str());
        RegCloseKey(key);
    }
}

std::string UserSid() {
    OwnedHandle process;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, process.Out());
    BYTE info[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    GetTokenInformation(process.Get(), TokenUser, info, sizeof info, &size);
    char *text = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(info)->User.Sid, &text);
    const std::string sid = text ? text : "<no SID>";
    LocalFree(text);
    return sid;
}

// The task's definition as the Task Scheduler stored it in System32\Tasks, or "<absent>".
std::string StoredTask() {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    std::ifstream in(std::string(system) + "\\Tasks\\Tempvaro-" + UserSid(), std::ios::binary);
    if (!in)
        return "<absent>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's lines without carriage returns, joined with '\n'.
std::string ReadFileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        text << line << '\n';
    }
    return text.str();
}

void WriteFileText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A window with the three option boxes under their real identifiers.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        DeleteRunValue();
        ASSERT_TRUE(RemoveLogonTask());
        window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        for (int id : {IDC_AUTOSYNC, IDC_AUTORUN, IDC_MINIMIZED})
            CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 10, 10, window_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
    void TearDown() override {
        if (applied_)
            LogonStartRead();
        DestroyWindow(window_);
        RemoveSettingsFile();
        DeleteRunValue();
        RemoveLogonTask();
    }
    static void RemoveSettingsFile() {
        DeleteFileA(SettingsPath().c_str());
        RemoveDirectoryA(SettingsPath().c_str());
    }
    void Tick(int id, bool on) { CheckDlgButton(window_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    bool Ticked(int id) { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    bool Apply() {
        applied_ = true;
        return ApplySettings(window_);
    }
    // What the start's reading of the log-on start posted, waited for so that its thread touches no later test's task.
    MSG LogonStartRead() {
        MSG read = {};
        for (int i = 0;
             i < 200 && !PeekMessageW(&read, window_, kLogonStartReadMessage, kLogonStartReadMessage, PM_REMOVE); ++i)
            Sleep(50);
        applied_ = false;
        return read;
    }

    HWND window_ = nullptr;
    bool applied_ = false;
};

} // namespace

TEST_F(SettingsTest, NoFileLeavesEverythingAsItWas) {
    EXPECT_FALSE(Apply());
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
    EXPECT_FALSE(Ticked(IDC_AUTOSYNC));
    EXPECT_FALSE(Ticked(IDC_MINIMIZED));
    // Leaving every time server to its built-in name, with no file, is no failure and makes no file.
    EXPECT_TRUE(WriteTimeServerSetting(1, nullptr));
    EXPECT_EQ(GetFileAttributesA(SettingsPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SettingsTest, OnesTickTheBoxesAndMinimiseAndTheStartShowsTheUsersOwnLogOnStart) {
    ASSERT_TRUE(RegisterLogonTask(WideProgramPath().c_str())); // refused now: Wine shows no folder as administrators'
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\nAutoSetTime=1\r\nAutoXiao=1\r\n");
    EXPECT_TRUE(Apply()) << "the window is to start minimised";
    EXPECT_TRUE(Ticked(IDC_AUTORUN));
    EXPECT_TRUE(Ticked(IDC_AUTOSYNC));
    EXPECT_TRUE(Ticked(IDC_MINIMIZED));
    // The start reads the user's tasks on a thread of its own and posts what it found. Wine gives back no task's
    // user, actions or descriptor: nothing definite, so the task stays and the box keeps the file's value, which is
    // every user's and stays as it was.
    const MSG read = LogonStartRead();
    ASSERT_EQ(read.message, kLogonStartReadMessage) << "the start never read the log-on start";
    EXPECT_EQ(read.wParam, kLogonStartUnknown);
    EXPECT_NE(StoredTask(), "<absent>");
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=1\nAutoSetTime=1\nAutoXiao=1\n");
    ShowLogonStartRead(window_, read.wParam);
    EXPECT_TRUE(Ticked(IDC_AUTORUN));
    ShowLogonStartRead(window_, false);
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
}

TEST_F(SettingsTest, ZerosUntickAndOtherValuesLeaveTheBoxAlone) {
    for (int id : {IDC_AUTORUN, IDC_AUTOSYNC, IDC_MINIMIZED})
        Tick(id, true);
    // A lower-case header names the same section; a 2 and a missing key change nothing.
    WriteFileText(SettingsPath(), "[config]\r\nAutoRun=0\r\nAutoSetTime=2\r\nResyncHours=00000720\r\n");
    EXPECT_EQ(ReadSettings().resyncHours, 720) << "leading zeros are still the number";
    EXPECT_FALSE(Apply());
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
    EXPECT_TRUE(Ticked(IDC_AUTOSYNC));
    EXPECT_TRUE(Ticked(IDC_MINIMIZED));
}

TEST_F(SettingsTest, ANewFileHoldsTheThreeKeysInOrder) {
    Tick(IDC_AUTOSYNC, true);
    Tick(IDC_MINIMIZED, true);
    EXPECT_TRUE(SaveBoxes(window_));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=1\nAutoXiao=1\n");

    Tick(IDC_MINIMIZED, false);
    EXPECT_TRUE(SaveBoxes(window_));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=1\nAutoXiao=0\n");
    // Made with a DACL of its own, which gives Everyone nothing (Wine keeps of it only what a file's mode can hold).
    alignas(void *) BYTE descriptor[4096];
    DWORD size = 0;
    char *sddl = nullptr;
    ASSERT_TRUE(
        GetFileSecurityA(SettingsPath().c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &size) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &sddl, nullptr));
    EXPECT_EQ(std::string(sddl).find(";WD)"), std::string::npos) << sddl;
    LocalFree(sddl);
}

TEST_F(SettingsTest, SavingKeepsEverythingElseInTheFile) {
    const std::string before =
        "; written by hand\n[Other]\nName=value\n\n[config]\nAutoXiao=0\nTimeServer1=ntp.example.net\n";
    WriteFileText(SettingsPath(), before);
    Tick(IDC_MINIMIZED, true);
    EXPECT_TRUE(SaveBoxes(window_));
    const std::string after = ReadFileText(SettingsPath());
    EXPECT_NE(after.find("; written by hand\n[Other]\nName=value\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[config]\n"), std::string::npos) << "the section is updated in place: " << after;
    EXPECT_EQ(after.find("[Config]"), std::string::npos) << after;
    EXPECT_NE(after.find("AutoXiao=1\n"), std::string::npos) << after;
    EXPECT_NE(after.find("TimeServer1=ntp.example.net\n"), std::string::npos) << after;
}

TEST_F(SettingsTest, TheServersAreSavedAllOrNothing) {
    const std::string before = "[Config]\nTimeServer2=old.example.net\nTimeServer3=\n";
    WriteFileText(SettingsPath(), before);
    const char *const names[] = {"one.example.net", "two.example.net", nullptr};
    // Server 2's key cannot be written, after server 1's was.
    EXPECT_FALSE(WriteTimeServerSettings(
        names, [](int server, const char *name) { return server != 2 && WriteTimeServerSetting(server, name); }));
    EXPECT_EQ(ReadFileText(SettingsPath()), before);
    EXPECT_TRUE(WriteTimeServerSettings(names));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nTimeServer2=two.example.net\nTimeServer1=one.example.net\n");
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenOrHasASecondNameIsAFailure) {
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr)); // a directory in the file's place
    Tick(IDC_AUTOSYNC, true);
    EXPECT_FALSE(SaveBoxes(window_));
    EXPECT_FALSE(WriteTimeServerSetting(2, "ntp.example.net"));
    // A second name of a file that someone else chose: a save as administrator must not write into it.
    RemoveSettingsFile();
    const std::string other = SettingsPath() + ".other";
    WriteFileText(other, "[Config]\r\n");
    ASSERT_TRUE(CreateHardLinkA(SettingsPath().c_str(), other.c_str(), nullptr));
    EXPECT_FALSE(SaveBoxes(window_));
    EXPECT_FALSE(WriteTimeServerSetting(2, nullptr));
    EXPECT_EQ(ReadFileText(other), "[Config]\n");
    DeleteFileA(other.c_str());
}

TEST_F(SettingsTest, AQuickSaveThatLeavesTheBoxAsShownKeepsWhatTheStartsReadingFinds) {
    // The file says AutoRun=1, but this user has no task: the reading says so.
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\n");
    Apply();
    EXPECT_TRUE(SaveBoxes(window_));
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=0\nAutoXiao=0\n");
}

TEST_F(SettingsTest, ATaskOfTheNameIsMadeAnewOnlyAChangedBoxTouchesItAndUntickingRemovesIt) {
    ASSERT_TRUE(RegisterLogonTask(WideProgramPath().c_str()));
    // Made anew: a task of the name that was there first, anyone's, is deleted before ours is created.
    ASSERT_TRUE(RegisterLogonTask(WideProgramPath().c_str()));
    // Wine keeps the settings of the definition it was given, but neither its trigger, principal nor action.
    EXPECT_NE(StoredTask().find("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"), std::string::npos) << StoredTask();
    SetRunValue();
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\n");
    ShowLogonStartRead(window_, true);
    EXPECT_TRUE(Ticked(IDC_AUTORUN));

    // Saving another box registers and removes nothing, though the guard would refuse this task now.
    Tick(IDC_AUTOSYNC, true);
    EXPECT_TRUE(SaveBoxes(window_));
    EXPECT_NE(StoredTask(), "<absent>");
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=1\nAutoSetTime=1\nAutoXiao=0\n");

    Tick(IDC_AUTORUN, false);
    EXPECT_TRUE(SaveBoxes(window_));
    ShowLogonStartRead(window_, true);
    EXPECT_FALSE(Ticked(IDC_AUTORUN)) << "the start's reading, older than the save";
    EXPECT_EQ(StoredTask(), "<absent>");
    EXPECT_EQ(RunValue(), "<absent>");
    EXPECT_NE(ReadFileText(SettingsPath()).find("AutoRun=0\n"), std::string::npos);

    // Unticking again, with nothing left to remove, is still what the user asked for.
    EXPECT_EQ(SetAutoRun(0), 1);
}

TEST_F(SettingsTest, ARefusedLogOnStartWritesTheRestAndKeepsAnOlderTaskItCannotJudge) {
    // The tests run from a folder that the Wine user owns; Wine shows no folder as only administrators'.
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=0\r\n");
    Tick(IDC_AUTORUN, true);
    ShowLogonStartRead(window_, false);
    EXPECT_TRUE(Ticked(IDC_AUTORUN)) << "ticked by the user before the start's reading came";
    Tick(IDC_AUTOSYNC, true);
    EXPECT_FALSE(SaveBoxes(window_));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=1\nAutoXiao=0\n");

    // A task registered before, for this same program, is one the guard would refuse now; but Wine's reading of it
    // is not definite (see above), and it stays.
    ASSERT_TRUE(RegisterLogonTask(WideProgramPath().c_str()));
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\n");
    Tick(IDC_AUTORUN, true);
    EXPECT_FALSE(SaveBoxes(window_));
    EXPECT_NE(StoredTask(), "<absent>");
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=1\nAutoXiao=0\n");
    EXPECT_FALSE(Ticked(IDC_AUTORUN)) << "the box shows that nothing is registered";
}

namespace {

// The descriptor `sddl` describes, in `size` bytes; false when the SDDL is bad or the descriptor does not fit.
bool MakeDescriptor(const std::wstring &sddl, PSECURITY_DESCRIPTOR descriptor, DWORD size) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, nullptr))
        return false;
    const DWORD length = GetSecurityDescriptorLength(made);
    if (length <= size)
        memcpy(descriptor, made, length);
    LocalFree(made);
    return length <= size;
}

// Whether anyone but administrators may change what the descriptor in `sddl` guards.
bool OthersMayChange(const std::wstring &sddl) {
    alignas(void *) BYTE descriptor[4096];
    EXPECT_TRUE(MakeDescriptor(sddl, descriptor, sizeof descriptor)) << "bad SDDL";
    return !OnlyAdministratorsMayChange(descriptor);
}

const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Program Files as Windows 10 and 11 set it up: TrustedInstaller's, with the system and Administrators changing it
// and what is made inside, Users and app packages reading it.
const std::wstring kProgramFiles =
    L"O:" + kTrustedInstaller + L"G:" + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller + L")(A;CIIO;GA;;;" +
    kTrustedInstaller +
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)";

} // namespace

TEST(ProgramGuard, WhatOnlyAdministratorsMayChangeIsSafe) {
    // As the setup leaves its folder: full control for the system, Administrators and TrustedInstaller, read and run
    // for Users.
    EXPECT_FALSE(OthersMayChange(L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + kTrustedInstaller +
                                 L")(A;OICI;0x1200a9;;;BU)"));
    // Changing attributes or reading permissions replaces nothing; a deny takes rights away.
    EXPECT_FALSE(OthersMayChange(L"O:SYG:SYD:(A;;0x1201a9;;;WD)(D;;FA;;;BU)"));
}

TEST(ProgramGuard, WritingDeletingOrPermissionsForTheUserIsChangeable) {
    const wchar_t *const rights[] = {L"FA",
                                     L"FW",
                                     L"0x2" /* write data, add file */,
                                     L"0x4" /* append, add subfolder */,
                                     L"DT" /* delete child */,
                                     L"SD" /* delete */,
                                     L"WD" /* write DAC */,
                                     L"WO" /* write owner */};
    for (const wchar_t *right : rights) {
        EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;;" + std::wstring(right) + L";;;BU)"))
            << "Users granted " << std::string(right, right + wcslen(right));
    }
    EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;OICI;FA;;;WD)")) << "Everyone";
    EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;OICI;GW;;;BU)")) << "generic write";
    EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;OICI;0x1301bf;;;S-1-5-21-1-2-3-1001)"))
        << "Modify for another user, as a helpdesk account is given";
    EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;;FA;;;CO)")) << "CREATOR OWNER on the object itself";
    EXPECT_TRUE(OthersMayChange(L"O:SYG:SYD:(A;;FA;;;SY)(A;OICIIO;GA;;;BU)")) << "inherit-only, not CREATOR OWNER";
    // No DACL lets everyone do anything (made by hand: Wine reads NO_ACCESS_CONTROL as an empty DACL).
    SECURITY_DESCRIPTOR open;
    alignas(void *) BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION) &&
                CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) &&
                SetSecurityDescriptorOwner(&open, system, FALSE) &&
                SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_FALSE(OnlyAdministratorsMayChange(&open)) << "no DACL";
    // The owner may always rewrite the permissions, whatever they say: a standard user who unpacked the program.
    const std::string sid = UserSid();
    EXPECT_TRUE(OthersMayChange(L"O:" + std::wstring(sid.begin(), sid.end()) + L"G:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)"))
        << "the running user as owner";
}

TEST(ProgramGuard, OnlyAdministratorsMayChangeTheLogOnTask) {
    const std::string sid = UserSid();
    const std::wstring user(sid.begin(), sid.end());
    wchar_t sddl[kLogonTaskSddlSize];
    ASSERT_TRUE(FormatLogonTaskSddl(user.c_str(), sddl, kLogonTaskSddlSize));
    EXPECT_EQ(TaskDescriptorVerdict(sddl), Verdict::kAllowed) << "the descriptor a task is registered with";
    // A task of the user's name that a standard user made first: hers, or open to her.
    EXPECT_EQ(TaskDescriptorVerdict((L"O:" + user + L"D:(A;;FA;;;BA)(A;;FA;;;SY)").c_str()), Verdict::kRefused);
    EXPECT_EQ(TaskDescriptorVerdict(L"O:BAD:(A;;FA;;;BA)(A;;FRFX;;;BU)(A;;FA;;;S-1-5-21-1-2-3-1001)"),
              Verdict::kRefused);
    EXPECT_EQ(TaskDescriptorVerdict(L"D:(A;;FA;;;BA)(A;;FA;;;BU)"), Verdict::kRefused) << "no owner, Users write";
    // What the Task Scheduler may give back without a part: neither part alone can keep or delete the task.
    EXPECT_EQ(TaskDescriptorVerdict(L"D:(A;;FA;;;BA)(A;;FR;;;BU)"), Verdict::kUnknown) << "no owner";
    EXPECT_EQ(TaskDescriptorVerdict(L"O:BA"), Verdict::kUnknown) << "no DACL";
    EXPECT_EQ(TaskDescriptorVerdict(L"no descriptor"), Verdict::kUnknown);
}

TEST(ProgramGuard, ATaskUserIdNamesTheRunningUserInEachFormByItsSid) {
    const std::string sid = UserSid();
    wchar_t name[kUserNameSize] = {};
    ASSERT_TRUE(CurrentUserName(name, kUserNameSize));
    const std::pair<std::wstring, Verdict> cases[] = {{std::wstring(sid.begin(), sid.end()), Verdict::kAllowed},
                                                      {name, Verdict::kAllowed},
                                                      {wcschr(name, L'\\') + 1, Verdict::kAllowed},
                                                      {L"S-1-5-18", Verdict::kRefused},
                                                      {L"S-1-5-21-1-2-3-1001", Verdict::kRefused},
                                                      {L"Administrators", Verdict::kRefused},
                                                      {L"no-such-user-here", Verdict::kUnknown}};
    for (const auto &one : cases)
        EXPECT_EQ(UserIdVerdict(one.first.c_str()), one.second) << std::string(one.first.begin(), one.first.end());
}

TEST(ProgramGuard, TheSettingsFileAndAGlobalClockLockAreTrustedOnlyFromAdministratorsAndTheUser) {
    const std::string text = UserSid();
    const std::wstring user(text.begin(), text.end());
    alignas(void *) BYTE descriptor[4096];
    const auto file = [&](const std::wstring &sddl) {
        return MakeDescriptor(sddl, descriptor, sizeof descriptor) && OnlyAdministratorsAndUserMayChange(descriptor);
    };
    EXPECT_TRUE(file(L"O:" + user + L"D:(A;;FA;;;" + user + L")(A;;FR;;;WD)")) << "as Wine shows mode 644";
    EXPECT_TRUE(file(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + user + L")(A;;FR;;;BU)")) << "as a save makes it";
    EXPECT_FALSE(file(L"O:" + user + L"D:(A;;FA;;;" + user + L")(A;;FA;;;WD)")) << "as Wine shows mode 666";
    EXPECT_FALSE(file(L"O:S-1-5-21-1-2-3-1001D:(A;;FR;;;WD)")) << "another user's";
    EXPECT_FALSE(file(L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;S-1-5-21-1-2-3-1001)")) << "another user may write";
    const auto lock = [&](const std::wstring &sddl) {
        return MakeDescriptor(sddl, descriptor, sizeof descriptor) && LockOwnerIsTrusted(descriptor);
    };
    EXPECT_TRUE(lock(L"O:SYD:") && lock(L"O:BAD:") && lock(L"O:" + user + L"D:"));
    EXPECT_FALSE(lock(L"O:BUD:") || lock(L"O:S-1-5-21-1-2-3-1001D:") || lock(L"D:")) << "Users, another, none";
}

namespace {

// The descriptors the guard reads, by path, made from SDDL; a path not listed cannot be read.
std::map<std::wstring, std::wstring> g_descriptors;

bool ReadListedDescriptor(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor, DWORD size) {
    const auto found = g_descriptors.find(path);
    return found != g_descriptors.end() && MakeDescriptor(found->second, descriptor, size);
}

bool MayStart(const ProgramPlace &place) {
    return MayStartAtLogOn(place, ReadListedDescriptor);
}

} // namespace

TEST(ProgramGuard, OnlyAProgramFilesChainThatOnlyAdministratorsCanChangeMayStartAtLogOn) {
    const std::wstring adminsOnly = L"O:SYG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::wstring root = L"\\\\?\\C:\\Program Files (x86)";
    const std::wstring file = root + L"\\Tempvaro\\Tempvaro.exe";
    const std::map<std::wstring, std::wstring> installed = {
        {root, adminsOnly}, {root + L"\\Tempvaro", adminsOnly}, {file, adminsOnly}};
    const std::string sid = UserSid();
    ProgramPlace place = {file.c_str(),
                          {L"\\\\?\\C:\\Program Files", L"\\\\?\\C:\\Program Files (x86)\\", nullptr},
                          true,
                          L"PC\\Ann",
                          L"pc\\ANN"};
    g_descriptors = installed;
    EXPECT_TRUE(MayStart(place));
    g_descriptors[root] = kProgramFiles;
    EXPECT_TRUE(MayStart(place)) << "Program Files as Windows sets it up";

    g_descriptors[file] = L"O:" + std::wstring(sid.begin(), sid.end()) + adminsOnly.substr(4);
    EXPECT_FALSE(MayStart(place)) << "a file moved in that kept its user as owner";
    g_descriptors = installed;
    g_descriptors[root + L"\\Tempvaro"] = L"O:S-1-5-21-1-2-3-1001" + adminsOnly.substr(4);
    EXPECT_FALSE(MayStart(place)) << "a folder unpacked by another user and moved in";
    g_descriptors = installed;
    g_descriptors[root] = adminsOnly + L"(A;OICI;0x1301bf;;;AU)";
    EXPECT_FALSE(MayStart(place)) << "Program Files itself open to Authenticated Users";
    g_descriptors = installed;
    g_descriptors.erase(root + L"\\Tempvaro");
    EXPECT_FALSE(MayStart(place)) << "a folder whose permissions cannot be read";
    g_descriptors = installed;

    const std::wstring outside = L"\\\\?\\C:\\Program Files Tools\\Tempvaro.exe";
    g_descriptors[outside] = adminsOnly;
    ProgramPlace elsewhere = place;
    elsewhere.finalPath = outside.c_str();
    EXPECT_FALSE(MayStart(elsewhere)) << "outside Program Files";
    ProgramPlace otherSession = place;
    otherSession.sessionUser = L"PC\\Bob";
    EXPECT_FALSE(MayStart(otherSession)) << "an administrator's name typed into another user's session";
    ProgramPlace share = place;
    share.onFixedDrive = false;
    EXPECT_FALSE(MayStart(share)) << "not on a local fixed drive";

    // A task already registered stays only when the path it starts is the program's own final path.
    EXPECT_TRUE(TaskPlaceIsGuarded(L"c:\\program files (X86)\\tempvaro\\TEMPVARO.EXE", place, ReadListedDescriptor));
    EXPECT_FALSE(TaskPlaceIsGuarded(L"C:\\Tools\\Tempvaro\\Tempvaro.exe", place, ReadListedDescriptor))
        << "a junction that users may replace, leading to the installed program";
    EXPECT_FALSE(TaskPlaceIsGuarded(L"C:\\PROGRA~2\\Tempvaro\\Tempvaro.exe", place, ReadListedDescriptor));
    EXPECT_FALSE(TaskPlaceIsGuarded(file.c_str(), place, ReadListedDescriptor)) << "not a drive path";
}
