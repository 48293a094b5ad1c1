// The argument text of a process command line, its interpretation into a
// mode and a working directory, and the hexadecimal numbers in it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "startup/startup.h"
#include "support/responder.h"

namespace {

struct ArgumentCase {
    const char* CommandLine;
    const char* Arguments;  // a tail of CommandLine
};

const ArgumentCase ArgumentCases[] = {
    {"setup.exe", ""},
    {"setup.exe -c", "-c"},
    {"setup.exe  \t -c", "-c"},
    {"\"C:\\Program Files\\Product\\setup.exe\" -u", "-u"},
    {"\"C:\\Program Files\\Product\\setup.exe\"", ""},
    {"\"C:\\Program Files\\Product\\setup.exe\"-u", "-u"},
    {"\"setup.exe\"   -c  ", "-c  "},
    // The form the first uninstall stage gives its temporary copy.
    {" -u 0000ABCD C:\\Program Files\\Product", "-u 0000ABCD C:\\Program Files\\Product"},
    {"   -c", "-c"},
    // A tab does not end an unquoted program name.
    {"setup.exe\t-u", ""},
    {"setup.exe\t-u -c", "-c"},
    // No closing quote: everything is the program name.
    {"\"C:\\Program Files\\setup.exe -u", ""},
    {"setup.exe \"C:\\a dir\" x", "\"C:\\a dir\" x"},
    {"", ""},
};

TEST(ArgumentTextOf, TakesWhatFollowsTheProgramName) {
    for (const ArgumentCase& c : ArgumentCases) {
        SCOPED_TRACE(std::string("command line [") + c.CommandLine + "]");
        const char* arguments = ArgumentTextOf(c.CommandLine);
        EXPECT_STREQ(arguments, c.Arguments);
        EXPECT_EQ(arguments, c.CommandLine + strlen(c.CommandLine) - strlen(c.Arguments))
            << "the argument text must lie in the command line itself";
    }
}

const char CurrentDir[] = "C:\\users\\tester\\distribution";
const char ProgramDir[] = "D:\\Product Disk";

struct ChoiceCase {
    const char* Arguments;
    SetupMode Mode;
    DWORD ProcessId;        // looked at in uninstall mode
    const char* Directory;  // CurrentDir, ProgramDir or a tail of Arguments
};

const ChoiceCase ChoiceCases[] = {
    {"", InstallMode, 0, ProgramDir},
    {"-c", InstallMode, 0, CurrentDir},
    {"-cxyz", InstallMode, 0, CurrentDir},
    {"-c E:\\elsewhere", InstallMode, 0, CurrentDir},
    {"-u", UninstallMode, 0, ProgramDir},
    {"-u   ", UninstallMode, 0, ProgramDir},
    {"-u 1A2B", UninstallMode, 0x1A2B, ProgramDir},
    {"-u 1A2B C:\\Program Files\\Product", UninstallMode, 0x1A2B, "C:\\Program Files\\Product"},
    {"-u 0000ABCD C:\\some dir  ", UninstallMode, 0xABCD, "C:\\some dir  "},
    {"-uFF", UninstallMode, 0xFF, ProgramDir},
    {"-u\t00ff\tC:\\dir", UninstallMode, 0xFF, "C:\\dir"},
    {"-u FFFFFFFF", UninstallMode, 0xFFFFFFFF, ProgramDir},
    // The ninth significant digit starts the directory text.
    {"-u 123456789 C:\\dir", UninstallMode, 0x12345678, "9 C:\\dir"},
    {"-u 0000000012 C:\\dir", UninstallMode, 0x12, "C:\\dir"},
    // A directory must come behind a number: "Da" is read as one.
    {"-u Data", UninstallMode, 0xDA, "ta"},
    {"-u C:\\dir", UninstallMode, 0xC, ":\\dir"},
    {"-u \"C:\\quoted dir\"", UninstallMode, 0, "\"C:\\quoted dir\""},
    {"-t", CheckMode, 0, ProgramDir},
    {"-t   ", CheckMode, 0, ProgramDir},
    {"-t E:\\dist", CheckMode, 0, "E:\\dist"},
    {"-tE:\\dist ", CheckMode, 0, "E:\\dist "},
};

TEST(InterpretCommandLine, ChoosesModeAndWorkingDirectory) {
    for (const ChoiceCase& c : ChoiceCases) {
        SCOPED_TRACE(std::string("arguments [") + c.Arguments + "]");
        ScriptedResponder responder;
        CommandLineChoice choice;
        memset(&choice, 0xCC, sizeof choice);
        ASSERT_TRUE(InterpretCommandLine(c.Arguments, CurrentDir, ProgramDir, &choice));
        EXPECT_EQ(choice.Mode, c.Mode);
        if (c.Mode == UninstallMode) {
            EXPECT_EQ(choice.ProcessId, c.ProcessId);
        }
        EXPECT_STREQ(choice.DirectoryText, c.Directory);
        EXPECT_TRUE(responder.Boxes().empty());
    }
}

// Every refusal is one error box without owner, titled "Setup"; its text
// holds at most 255 characters, whatever the user typed.
TEST(InterpretCommandLine, RefusesOtherArguments) {
    const std::string longest = "/" + std::string(600, 'x');
    const struct {
        std::string Arguments;
        std::string Message;
    } cases[] = {
        {"-C", "Invalid command line switch \"C\""},
        {"-U", "Invalid command line switch \"U\""},
        {"-T", "Invalid command line switch \"T\""},
        {"-x", "Invalid command line switch \"x\""},
        {"-x -c", "Invalid command line switch \"x\""},
        {"--c", "Invalid command line switch \"-\""},
        {"- u", "Invalid command line switch \" \""},
        // The switch character is the NUL: the text ends after the quote.
        {"-", "Invalid command line switch \""},
        {"/u", "Invalid command line \"/u\""},
        {"/c", "Invalid command line \"/c\""},
        {"u", "Invalid command line \"u\""},
        {"\"-c\"", "Invalid command line \"\"-c\"\""},
        {"C:\\some dir  ", "Invalid command line \"C:\\some dir  \""},
        {" -c", "Invalid command line \" -c\""},
        {longest, ("Invalid command line \"" + longest).substr(0, 255)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("arguments [" + c.Arguments + "]");
        ScriptedResponder responder;
        CommandLineChoice choice;
        EXPECT_FALSE(InterpretCommandLine(c.Arguments.c_str(), CurrentDir, ProgramDir, &choice));
        ASSERT_EQ(responder.Boxes().size(), 1u);
        const RecordedBox& box = responder.Boxes()[0];
        EXPECT_EQ(box.Text, c.Message);
        EXPECT_EQ(box.Title, "Setup");
        EXPECT_EQ(box.Type, static_cast<UINT>(MB_ICONERROR | MB_OK));
        EXPECT_EQ(box.Owner, nullptr);
    }
}

struct NumberCase {
    const char* Text;
    unsigned Radix;
    DWORD Value;
    size_t Taken;  // characters read
};

const NumberCase NumberCases[] = {
    {"", 16, 0, 0},
    {"0", 16, 0, 1},
    {"1A2B", 16, 0x1A2B, 4},
    {"1a2b", 16, 0x1A2B, 4},
    {"abcdefg", 16, 0xABCDEF, 6},
    {"Data", 16, 0xDA, 2},
    {"FFFFFFFF", 16, 0xFFFFFFFF, 8},
    {"ffffffff1", 16, 0xFFFFFFFF, 8},
    {"10000000", 16, 0x10000000, 8},
    {"100000000", 16, 0x10000000, 8},
    {"123456789", 16, 0x12345678, 8},
    // Leading zeros are no significant digits.
    {"0000000000000012", 16, 0x12, 16},
    {"00000000FFFFFFFF0", 16, 0xFFFFFFFF, 16},
    // No prefix, no sign, no blanks.
    {"0x1F", 16, 0, 1},
    {"-5", 16, 0, 0},
    {" 12", 16, 0, 0},
    {"G", 16, 0, 0},
    // The characters between the digits and the letters are none.
    {"9:", 16, 9, 1},
    {"@", 16, 0, 0},
    {"12\xE4", 16, 0x12, 2},
    {"4294967295", 10, 0xFFFFFFFF, 10},
    {"4294967296", 10, 429496729, 9},
    {"12A", 10, 12, 2},
    {"zz", 36, 35 * 36 + 35, 2},
};

TEST(ParseNumber, ReadsDigitsWhileTheValueFitsIn32Bits) {
    for (const NumberCase& c : NumberCases) {
        SCOPED_TRACE(std::string("text [") + c.Text + "] radix " + std::to_string(c.Radix));
        const char* end = nullptr;
        EXPECT_EQ(ParseNumber(c.Text, c.Radix, &end), c.Value);
        EXPECT_EQ(end, c.Text + c.Taken);
    }
}

}  // namespace
