// The program's file name, its directory and files beside it.
#include <gtest/gtest.h>

#include <string>

#include "platform/program_path.h"

namespace {

std::wstring Beside(const wchar_t *program, const wchar_t *name, size_t size = kPathSize) {
    wchar_t path[kPathSize];
    if (!PathBeside(program, name, path, size))
        return L"<does not fit>";
    return path;
}

std::wstring Directory(const wchar_t *program) {
    wchar_t path[kPathSize];
    if (!DirectoryPart(program, path, kPathSize))
        return L"<does not fit>";
    return path;
}

} // namespace

TEST(ProgramPath, NamesTheFileItsDirectoryAndFilesBesideIt) {
    EXPECT_STREQ(FileNamePart(L"C:\\Tools\\Tempvaro.exe"), L"Tempvaro.exe");
    EXPECT_STREQ(FileNamePart(L"Tempvaro.exe"), L"Tempvaro.exe");
    EXPECT_EQ(Directory(L"C:\\Tools\\Tempvaro.exe"), L"C:\\Tools");
    EXPECT_EQ(Beside(L"C:\\Tools\\Tempvaro.exe", L"NetTimeConfig.ini"), L"C:\\Tools\\NetTimeConfig.ini");
    EXPECT_EQ(Beside(L"\\\\server\\share\\Tempvaro.exe", L"Chronvik.exe"), L"\\\\server\\share\\Chronvik.exe");
}

TEST(ProgramPath, SplitsWholeCharactersOnly) {
    // U+904B is 0xDF 0x5C in code page 936: its second byte is a backslash, which a byte-wise split cuts at.
    EXPECT_STREQ(FileNamePart(L"C:\\T\\x\u904B.exe"), L"x\u904B.exe");
    EXPECT_EQ(Directory(L"C:\\\u904B\\T.exe"), L"C:\\\u904B");
}

TEST(ProgramPath, ARootDirectoryKeepsItsBackslash) {
    // The root keeps its separator and the join adds one more; Windows reads C:\\x as C:\x.
    EXPECT_EQ(Directory(L"C:\\Tempvaro.exe"), L"C:\\");
    EXPECT_EQ(Beside(L"C:\\Tempvaro.exe", L"NetTimeConfig.ini"), L"C:\\\\NetTimeConfig.ini");
}

TEST(ProgramPath, RefusesAPathThatDoesNotFit) {
    const std::wstring directory = L"C:\\" + std::wstring(233, L'd'); // 236 characters
    const std::wstring program = directory + L"\\Tempvaro.exe";
    EXPECT_EQ(Beside(program.c_str(), L"NetTimeConfig.ini", 255), directory + L"\\NetTimeConfig.ini"); // 254 + zero
    EXPECT_EQ(Beside(program.c_str(), L"NetTimeConfig.ini", 254), L"<does not fit>");
}

TEST(ProgramPath, TellsWhatLiesBelowAFolder) {
    const wchar_t folder[] = L"\\\\?\\C:\\Program Files (x86)";
    EXPECT_EQ(InsideFolderLength(folder, L"\\\\?\\C:\\Program Files (x86)\\Tempvaro\\Tempvaro.exe"), wcslen(folder));
    EXPECT_EQ(InsideFolderLength(L"\\\\?\\C:\\Program Files (x86)\\", L"\\\\?\\c:\\PROGRAM FILES (X86)\\T.exe"),
              wcslen(folder));
    // The folder itself, a sibling whose name merely begins the same, and anything shorter are not below it.
    EXPECT_EQ(InsideFolderLength(folder, folder), 0u);
    EXPECT_EQ(InsideFolderLength(folder, L"\\\\?\\C:\\Program Files (x86)\\"), 0u);
    EXPECT_EQ(InsideFolderLength(folder, L"\\\\?\\C:\\Program Files (x86) Tools\\T.exe"), 0u);
    EXPECT_EQ(InsideFolderLength(folder, L"\\\\?\\C:\\Program"), 0u);
    EXPECT_EQ(InsideFolderLength(L"", L"\\T.exe"), 0u);
}
