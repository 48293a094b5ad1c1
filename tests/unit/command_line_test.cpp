// The argument text of the process command line, its choice of mode and
// working directory, and the hexadecimal process id in it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "startup/startup.h"
#include "unit/shown_boxes.h"

namespace {

TEST(ArgumentTextOf, TakesWhatFollowsTheProgramName) {
    const struct {
        const char* Name;
        const char* CommandLine;
        const char* Arguments;  // a tail of CommandLine
    } cases[] = {
        {"no arguments", "setup.exe", ""},
        {"one blank", "setup.exe -c", "-c"},
        {"blanks and tabs skipped", "setup.exe  \t -c", "-c"},
        {"quoted name with a blank", "\"C:\\Program Files\\Product\\setup.exe\" -u", "-u"},
        {"quoted name alone", "\"C:\\Program Files\\Product\\setup.exe\"", ""},
        {"nothing between quote and argument", "\"C:\\Program Files\\Product\\setup.exe\"-u", "-u"},
        {"trailing blanks kept", "\"setup.exe\"   -c  ", "-c  "},
        {"empty name of the uninstall copy", " -u 0000ABCD C:\\Program Files\\Product",
         "-u 0000ABCD C:\\Program Files\\Product"},
        {"a tab does not end the name", "setup.exe\t-u", ""},
        {"the blank after the tab does", "setup.exe\t-u -c", "-c"},
        {"no closing quote", "\"C:\\Program Files\\setup.exe -u", ""},
        {"quoted argument kept", "setup.exe \"C:\\a dir\" x", "\"C:\\a dir\" x"},
        {"empty command line", "", ""},
    };
    for (const auto& c : cases) {
        const char* arguments = ArgumentTextOf(c.CommandLine);
        EXPECT_STREQ(arguments, c.Arguments) << c.Name;
        EXPECT_EQ(arguments, c.CommandLine + strlen(c.CommandLine) - strlen(c.Arguments)) << c.Name;
    }
}

const char CurrentDir[] = "C:\\users\\tester\\distribution";
const char ProgramDir[] = "D:\\Product Disk";

// A refusal is one error box without owner titled "Setup", at most 255
// characters of it whatever was typed.
TEST(InterpretCommandLine, ChoosesModeAndDirectoryOrRefuses) {
    const std::string longest = "/" + std::string(600, 'x');
    const struct {
        const char* Name;
        std::string Arguments;
        SetupMode Mode;
        DWORD ProcessId;
        std::string Expected;  // the working directory, or the refusal's text
        bool Refused;
    } cases[] = {
        {"none: the program's folder", "", InstallMode, 0, ProgramDir, false},
        {"-c: the current folder", "-c", InstallMode, 0, CurrentDir, false},
        {"-c with letters behind", "-cxyz", InstallMode, 0, CurrentDir, false},
        {"-c ignores a folder", "-c E:\\elsewhere", InstallMode, 0, CurrentDir, false},
        {"-u alone", "-u", UninstallMode, 0, ProgramDir, false},
        {"-u and blanks", "-u   ", UninstallMode, 0, ProgramDir, false},
        {"-u id", "-u 1A2B", UninstallMode, 0x1A2B, ProgramDir, false},
        {"-u id folder", "-u 1A2B C:\\Program Files\\Product", UninstallMode, 0x1A2B, "C:\\Program Files\\Product",
         false},
        {"folder keeps trailing blanks", "-u 0000ABCD C:\\some dir  ", UninstallMode, 0xABCD, "C:\\some dir  ", false},
        {"id right after the switch", "-uFF", UninstallMode, 0xFF, ProgramDir, false},
        {"tabs as blanks", "-u\t00ff\tC:\\dir", UninstallMode, 0xFF, "C:\\dir", false},
        {"largest id", "-u FFFFFFFF", UninstallMode, 0xFFFFFFFF, ProgramDir, false},
        {"ninth digit starts the folder", "-u 123456789 C:\\dir", UninstallMode, 0x12345678, "9 C:\\dir", false},
        {"leading zeros", "-u 0000000012 C:\\dir", UninstallMode, 0x12, "C:\\dir", false},
        {"hex letters of a folder", "-u Data", UninstallMode, 0xDA, "ta", false},
        {"drive letter read as digit", "-u C:\\dir", UninstallMode, 0xC, ":\\dir", false},
        {"quoted folder kept", "-u \"C:\\quoted dir\"", UninstallMode, 0, "\"C:\\quoted dir\"", false},
        {"switch letters have case", "-C", InstallMode, 0, "Invalid command line switch \"C\"", true},
        {"-U", "-U", InstallMode, 0, "Invalid command line switch \"U\"", true},
        {"unknown switch", "-x -c", InstallMode, 0, "Invalid command line switch \"x\"", true},
        {"double dash", "--c", InstallMode, 0, "Invalid command line switch \"-\"", true},
        {"blank switch", "- u", InstallMode, 0, "Invalid command line switch \" \"", true},
        {"dash alone: the NUL is the switch", "-", InstallMode, 0, "Invalid command line switch \"", true},
        {"slash", "/u", InstallMode, 0, "Invalid command line \"/u\"", true},
        {"word", "u", InstallMode, 0, "Invalid command line \"u\"", true},
        {"quoted switch", "\"-c\"", InstallMode, 0, "Invalid command line \"\"-c\"\"", true},
        {"leading blank", " -c", InstallMode, 0, "Invalid command line \" -c\"", true},
        {"cut at 255", longest, InstallMode, 0, ("Invalid command line \"" + longest).substr(0, 255), true},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        CommandLineChoice choice;
        memset(&choice, 0xCC, sizeof choice);
        ASSERT_EQ(InterpretCommandLine(c.Arguments.c_str(), CurrentDir, ProgramDir, &choice), !c.Refused) << c.Name;
        if (c.Refused) {
            ASSERT_EQ(boxes.Boxes().size(), 1u) << c.Name;
            const ShownBox& box = boxes.Boxes()[0];
            EXPECT_EQ(box.Text, c.Expected) << c.Name;
            EXPECT_EQ(box.Title, "Setup") << c.Name;
            EXPECT_EQ(box.Type, static_cast<UINT>(MB_ICONERROR | MB_OK)) << c.Name;
            EXPECT_EQ(box.Owner, nullptr) << c.Name;
            continue;
        }
        EXPECT_EQ(boxes.Texts(), "") << c.Name;
        EXPECT_EQ(choice.Mode, c.Mode) << c.Name;
        EXPECT_EQ(choice.ProcessId, c.ProcessId) << c.Name;
        EXPECT_EQ(choice.DirectoryText, c.Expected) << c.Name;
    }
}

// The program reads only hexadecimal numbers (the process id of -u).
TEST(ParseNumber, ReadsHexDigitsWhileTheValueFitsIn32Bits) {
    const struct {
        const char* Name;
        const char* Text;
        DWORD Value;
        size_t Taken;
    } cases[] = {
        {"empty", "", 0, 0},
        {"zero", "0", 0, 1},
        {"upper case", "1A2B", 0x1A2B, 4},
        {"lower case", "1a2b", 0x1A2B, 4},
        {"stops at g", "abcdefg", 0xABCDEF, 6},
        {"stops at t", "Data", 0xDA, 2},
        {"largest", "FFFFFFFF", 0xFFFFFFFF, 8},
        {"ninth digit left", "ffffffff1", 0xFFFFFFFF, 8},
        {"ninth zero left", "100000000", 0x10000000, 8},
        {"ninth of nine left", "123456789", 0x12345678, 8},
        {"leading zeros count nothing", "0000000000000012", 0x12, 16},
        {"zeros then the largest", "00000000FFFFFFFF0", 0xFFFFFFFF, 16},
        {"no prefix", "0x1F", 0, 1},
        {"no sign", "-5", 0, 0},
        {"no blanks", " 12", 0, 0},
        {"G", "G", 0, 0},
        {"colon after 9", "9:", 9, 1},
        {"at before A", "@", 0, 0},
        {"backquote before a", "`", 0, 0},
        {"not a letter", "12\xE4", 0x12, 2},
    };
    for (const auto& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(ParseNumber(c.Text, 16, &end), c.Value) << c.Name;
        EXPECT_EQ(end, c.Text + c.Taken) << c.Name;
    }
}

}  // namespace
