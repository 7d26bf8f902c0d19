// The settings file beside the program and the log-on start in the Run key, read back without the code under test.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/app_shell.h"
#include "res/resource.h"
#include "settings/settings.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
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

void DeleteRunValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, ProgramName().c_str());
        RegCloseKey(key);
    }
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
        window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        for (int id : {IDC_AUTOSYNC, IDC_AUTORUN, IDC_MINIMIZED})
            CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 10, 10, window_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window_);
        RemoveSettingsFile();
        DeleteRunValue();
    }
    static void RemoveSettingsFile() {
        DeleteFileA(SettingsPath().c_str());
        RemoveDirectoryA(SettingsPath().c_str());
    }
    void Tick(int id, bool on) { CheckDlgButton(window_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    bool Ticked(int id) { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

    HWND window_ = nullptr;
};

} // namespace

TEST_F(SettingsTest, NoFileLeavesEverythingAsItWas) {
    ApplySettings(window_);
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
    EXPECT_FALSE(Ticked(IDC_AUTOSYNC));
    EXPECT_FALSE(Ticked(IDC_MINIMIZED));
    EXPECT_FALSE(IsIconic(window_));
}

TEST_F(SettingsTest, OnesTickTheBoxesAndMinimise) {
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\nAutoSetTime=1\r\nAutoXiao=1\r\n");
    ApplySettings(window_);
    EXPECT_TRUE(Ticked(IDC_AUTORUN));
    EXPECT_TRUE(Ticked(IDC_AUTOSYNC));
    EXPECT_TRUE(Ticked(IDC_MINIMIZED));
    // The window is minimised once it is first shown, as the main window's handler reports it.
    g_appShell.OnShowWindow(window_, true);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    EXPECT_TRUE(IsIconic(window_));
}

TEST_F(SettingsTest, ZerosUntickAndOtherValuesLeaveTheBoxAlone) {
    for (int id : {IDC_AUTORUN, IDC_AUTOSYNC, IDC_MINIMIZED})
        Tick(id, true);
    // A lower-case header names the same section; a 2 and a missing key change nothing.
    WriteFileText(SettingsPath(), "[config]\r\nAutoRun=0\r\nAutoSetTime=2\r\n");
    ApplySettings(window_);
    EXPECT_FALSE(Ticked(IDC_AUTORUN));
    EXPECT_TRUE(Ticked(IDC_AUTOSYNC));
    EXPECT_TRUE(Ticked(IDC_MINIMIZED));
    EXPECT_FALSE(IsIconic(window_));
}

TEST_F(SettingsTest, ANewFileHoldsTheThreeKeysInOrder) {
    for (int id : {IDC_AUTORUN, IDC_AUTOSYNC, IDC_MINIMIZED})
        Tick(id, true);
    EXPECT_TRUE(WriteSettings(window_));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=1\nAutoSetTime=1\nAutoXiao=1\n");

    Tick(IDC_AUTORUN, false);
    Tick(IDC_MINIMIZED, false);
    EXPECT_TRUE(WriteSettings(window_));
    EXPECT_EQ(ReadFileText(SettingsPath()), "[Config]\nAutoRun=0\nAutoSetTime=1\nAutoXiao=0\n");
}

TEST_F(SettingsTest, SavingKeepsEverythingElseInTheFile) {
    const std::string before = "; written by hand\n[Other]\nName=value\n\n[config]\nAutoXiao=0\nNote=keep me\n";
    WriteFileText(SettingsPath(), before);
    Tick(IDC_MINIMIZED, true);
    EXPECT_TRUE(WriteSettings(window_));
    const std::string after = ReadFileText(SettingsPath());
    EXPECT_NE(after.find("; written by hand\n[Other]\nName=value\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[config]\n"), std::string::npos) << "the section is updated in place: " << after;
    EXPECT_EQ(after.find("[Config]"), std::string::npos) << after;
    EXPECT_NE(after.find("AutoXiao=1\n"), std::string::npos) << after;
    EXPECT_NE(after.find("Note=keep me\n"), std::string::npos) << after;
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenIsAFailure) {
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr)); // a directory in the file's place
    Tick(IDC_AUTOSYNC, true);
    EXPECT_FALSE(WriteSettings(window_));
    EXPECT_EQ(RunValue(), "<absent>");
}

TEST_F(SettingsTest, TheRunValueFollowsTheBox) {
    const std::string path = ProgramPath();
    const std::string expected = path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
    Tick(IDC_AUTORUN, true);
    EXPECT_TRUE(WriteSettings(window_));
    EXPECT_EQ(RunValue(), expected);

    Tick(IDC_AUTORUN, false);
    EXPECT_TRUE(WriteSettings(window_));
    EXPECT_EQ(RunValue(), "<absent>");

    // Unticking again, with no value left to remove, is still what the user asked for.
    WriteFileText(SettingsPath(), "[Config]\r\nAutoRun=1\r\n");
    EXPECT_EQ(g_appShell.SetAutoRun(0), 1);
    EXPECT_TRUE(WriteSettings(window_));
    EXPECT_NE(ReadFileText(SettingsPath()).find("AutoRun=0\n"), std::string::npos);
}
