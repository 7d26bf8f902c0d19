// The program's file name, files beside it, and the Run value's command line.
#include <gtest/gtest.h>

#include <string>

#include "app/program_path.h"
#include "settings/run_command.h"

namespace {

std::string Beside(const char *program, const char *name, size_t size = 256) {
    char path[256];
    if (!PathBeside(program, name, path, size))
        return "<does not fit>";
    return path;
}

std::string RunCommand(const char *program, size_t size = 262) {
    char command[262];
    if (!FormatRunCommand(program, command, size))
        return "<does not fit>";
    return command;
}

} // namespace

TEST(ProgramPath, NamesTheFileAndFilesBesideIt) {
    EXPECT_STREQ(FileNamePart("C:\\Tools\\Tempvaro.exe"), "Tempvaro.exe");
    EXPECT_STREQ(FileNamePart("Tempvaro.exe"), "Tempvaro.exe");
    EXPECT_EQ(Beside("C:\\Tools\\Tempvaro.exe", "NetTimeConfig.ini"), "C:\\Tools\\NetTimeConfig.ini");
    EXPECT_EQ(Beside("\\\\server\\share\\Tempvaro.exe", "Chronvik.exe"), "\\\\server\\share\\Chronvik.exe");
}

TEST(ProgramPath, ARootDirectoryKeepsItsBackslash) {
    // The root keeps its separator and the join adds one more; Windows reads C:\\x as C:\x.
    EXPECT_EQ(Beside("C:\\Tempvaro.exe", "NetTimeConfig.ini"), "C:\\\\NetTimeConfig.ini");
}

TEST(ProgramPath, RefusesAPathThatDoesNotFit) {
    const std::string directory = "C:\\" + std::string(233, 'd'); // 236 characters
    const std::string program = directory + "\\Tempvaro.exe";
    EXPECT_EQ(Beside(program.c_str(), "NetTimeConfig.ini"), directory + "\\NetTimeConfig.ini"); // 254 + zero
    const std::string longer = "C:\\" + std::string(236, 'd') + "\\Tempvaro.exe";
    EXPECT_EQ(Beside(longer.c_str(), "NetTimeConfig.ini"), "<does not fit>");
}

TEST(RunCommand, QuotesOnlyAPathWithBlanks) {
    EXPECT_EQ(RunCommand("C:\\Tools\\Tempvaro.exe"), "C:\\Tools\\Tempvaro.exe");
    EXPECT_EQ(RunCommand("C:\\Program Files\\Tempvaro\\Tempvaro.exe"), "\"C:\\Program Files\\Tempvaro\\Tempvaro.exe\"");
    EXPECT_EQ(RunCommand("C:\\A B\\T.exe", 14), "<does not fit>"); // the quotes need room too
    EXPECT_EQ(RunCommand("C:\\A B\\T.exe", 15), "\"C:\\A B\\T.exe\"");
}
