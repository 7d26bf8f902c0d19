// The command line's switches: what each command line asks for, and the argument a bad one is named by.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"

TEST(CommandLine, SwitchesInAnyCaseWithSlashOrDashAndAnythingElseNamed) {
    const struct {
        const wchar_t *commandLine;
        CommandMode mode;
        const wchar_t *bad;
    } kCases[] = {
        {L"Tempvaro.exe", CommandMode::kWindow, L""},
        {L"\"C:\\Program Files (x86)\\Tempvaro\\Tempvaro.exe\"  \t", CommandMode::kWindow, L""},
        {L"Tempvaro.exe /check", CommandMode::kCheck, L""},
        {L"\"C:\\Program Files\\Tempvaro.exe\"/CHECK", CommandMode::kCheck, L""},
        {L"Tempvaro.exe -Check", CommandMode::kCheck, L""},
        {L"Tempvaro.exe \"/sync\" ", CommandMode::kSync, L""},
        {L"Tempvaro.exe /?", CommandMode::kUsage, L""},
        {L"Tempvaro.exe -HELP", CommandMode::kUsage, L""},
        {L"Tempvaro.exe /checks", CommandMode::kBadArgument, L"/checks"},
        {L"Tempvaro.exe check", CommandMode::kBadArgument, L"check"},
        {L"Tempvaro.exe --sync", CommandMode::kBadArgument, L"--sync"},
        {L"Tempvaro.exe /", CommandMode::kBadArgument, L"/"},
        {L"Tempvaro.exe \"\"", CommandMode::kBadArgument, L""},
        {L"Tempvaro.exe /\u0421heck", CommandMode::kBadArgument, L"/\u0421heck"},
        {L"Tempvaro.exe /check /sync", CommandMode::kBadArgument, L"/sync"},
        {L"Tempvaro.exe /? extra", CommandMode::kBadArgument, L"extra"},
        {L"Tempvaro.exe /check \"a b\"", CommandMode::kBadArgument, L"a b"},
    };
    for (const auto &c : kCases) {
        const CommandLine parsed = ParseCommandLine(c.commandLine);
        const std::wstring bad = parsed.mode == CommandMode::kBadArgument ? parsed.badArgument : L"";
        EXPECT_TRUE(parsed.mode == c.mode && bad == c.bad)
            << std::string(c.commandLine, c.commandLine + wcslen(c.commandLine)) << ": "
            << static_cast<int>(parsed.mode);
    }
    // A long argument is cut to its room, still ended.
    const std::wstring longArgument(200, L'x');
    const CommandLine parsed = ParseCommandLine((L"Tempvaro.exe " + longArgument).c_str());
    EXPECT_EQ(std::wstring(parsed.badArgument), longArgument.substr(0, kArgumentSize - 1));
}
