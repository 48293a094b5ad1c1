// The argument text of the process command line, its choice of mode and
// working directory, and the hexadecimal process id in it.
#include <cstring>

#include "startup/startup.h"
#include "unit/tables.h"

namespace {

TEST(ArgumentTextOf, TakesWhatFollowsTheProgramName) {
    const Row rows[] = {
        {"no arguments", "setup.exe", ""},
        {"one blank", "setup.exe -c", "-c"},
        {"blanks and tabs skipped", "setup.exe  \t -c", "-c"},
        {"quoted name with a blank", "\"C:\\Program Files\\Product\\setup.exe\" -u", "-u"},
        {"quoted name alone", "\"C:\\Program Files\\Product\\setup.exe\"", ""},
        {"nothing between quote and argument", "\"C:\\Program Files\\Product\\setup.exe\"-u", "-u"},
        {"trailing blanks kept", "\"setup.exe\"   -c  ", "-c  "},
        {"empty name of the uninstall copy", " -u 0000ABCD C:\\Product", "-u 0000ABCD C:\\Product"},
        {"a tab does not end the name", "setup.exe\t-u", ""},
        {"the blank after the tab does", "setup.exe\t-u -c", "-c"},
        {"no closing quote", "\"C:\\Program Files\\setup.exe -u", ""},
        {"quoted argument kept", "setup.exe \"C:\\a dir\" x", "\"C:\\a dir\" x"},
        {"empty command line", "", ""},
    };
    CheckRows(rows, [](const std::string& line) {
        const char* arguments = ArgumentTextOf(line.c_str());
        bool tail = arguments == line.c_str() + line.size() - strlen(arguments);
        return tail ? std::string(arguments) : "(not in the command line)";
    });
}

// A refusal is one error box, at most 255 characters of it.
TEST(InterpretCommandLine, ChoosesModeAndDirectoryOrRefuses) {
    const std::string longest = "/" + std::string(600, 'x');
    const Row rows[] = {
        {"none: the program's folder", "", "install D:\\Disk"},
        {"-c: the current folder", "-c", "install C:\\users\\current"},
        {"-c with letters behind", "-cxyz", "install C:\\users\\current"},
        {"-c ignores a folder", "-c E:\\elsewhere", "install C:\\users\\current"},
        {"-u alone", "-u", "uninstall 0 D:\\Disk"},
        {"-u and blanks", "-u   ", "uninstall 0 D:\\Disk"},
        {"-u id", "-u 1A2B", "uninstall 1A2B D:\\Disk"},
        {"-u id folder", "-u 1A2B C:\\Program Files\\Product", "uninstall 1A2B C:\\Program Files\\Product"},
        {"folder keeps trailing blanks", "-u 0000ABCD C:\\some dir  ", "uninstall ABCD C:\\some dir  "},
        {"id right after the switch", "-uFF", "uninstall FF D:\\Disk"},
        {"tabs as blanks", "-u\t00ff\tC:\\dir", "uninstall FF C:\\dir"},
        {"largest id", "-u FFFFFFFF", "uninstall FFFFFFFF D:\\Disk"},
        {"ninth digit starts the folder", "-u 123456789 C:\\dir", "uninstall 12345678 9 C:\\dir"},
        {"leading zeros", "-u 0000000012 C:\\dir", "uninstall 12 C:\\dir"},
        {"hex letters of a folder", "-u Data", "uninstall DA ta"},
        {"drive letter read as a digit", "-u C:\\dir", "uninstall C :\\dir"},
        {"quoted folder kept", "-u \"C:\\quoted dir\"", "uninstall 0 \"C:\\quoted dir\""},
        {"switch letters have case", "-C", "refused [Invalid command line switch \"C\"]"},
        {"-U", "-U", "refused [Invalid command line switch \"U\"]"},
        {"unknown switch", "-x -c", "refused [Invalid command line switch \"x\"]"},
        {"double dash", "--c", "refused [Invalid command line switch \"-\"]"},
        {"blank switch", "- u", "refused [Invalid command line switch \" \"]"},
        {"dash alone: the NUL is the switch", "-", "refused [Invalid command line switch \"]"},
        {"slash", "/u", "refused [Invalid command line \"/u\"]"},
        {"word", "u", "refused [Invalid command line \"u\"]"},
        {"quoted switch", "\"-c\"", "refused [Invalid command line \"\"-c\"\"]"},
        {"leading blank", " -c", "refused [Invalid command line \" -c\"]"},
        {"cut at 255", longest, "refused [" + ("Invalid command line \"" + longest).substr(0, 255) + "]"},
    };
    CheckRows(rows, [](const std::string& arguments) {
        CommandLineChoice choice;
        if (!InterpretCommandLine(arguments.c_str(), "C:\\users\\current", "D:\\Disk", &choice))
            return std::string("refused");
        char id[16];
        wsprintfA(id, "%X ", choice.ProcessId);
        return (choice.Mode == InstallMode ? "install " : "uninstall " + std::string(id)) + choice.DirectoryText;
    });
}

// The program reads only hexadecimal numbers (the process id of -u).
TEST(ParseNumber, ReadsHexDigitsWhileTheValueFitsIn32Bits) {
    const Row rows[] = {
        {"empty", "", "0, 0 read"},
        {"zero", "0", "0, 1 read"},
        {"upper case", "1A2B", "1A2B, 4 read"},
        {"lower case", "1a2b", "1A2B, 4 read"},
        {"stops at g", "abcdefg", "ABCDEF, 6 read"},
        {"stops at t", "Data", "DA, 2 read"},
        {"largest", "FFFFFFFF", "FFFFFFFF, 8 read"},
        {"ninth digit left", "ffffffff1", "FFFFFFFF, 8 read"},
        {"ninth zero left", "100000000", "10000000, 8 read"},
        {"ninth of nine left", "123456789", "12345678, 8 read"},
        {"leading zeros count nothing", "0000000000000012", "12, 16 read"},
        {"zeros then the largest", "00000000FFFFFFFF0", "FFFFFFFF, 16 read"},
        {"no prefix", "0x1F", "0, 1 read"},
        {"no sign", "-5", "0, 0 read"},
        {"no blanks", " 12", "0, 0 read"},
        {"G", "G", "0, 0 read"},
        {"colon after 9", "9:", "9, 1 read"},
        {"at before A", "@", "0, 0 read"},
        {"backquote before a", "`", "0, 0 read"},
        {"not a letter", "12\xE4", "12, 2 read"},
    };
    CheckRows(rows, [](const std::string& text) {
        const char* end = nullptr;
        DWORD value = ParseNumber(text.c_str(), 16, &end);
        char outcome[32];
        wsprintfA(outcome, "%X, %d read", value, (int)(end - text.c_str()));
        return std::string(outcome);
    });
}

// "facility/code - system text"; a code the system has no text for ends
// in the dash, and no text ends in a blank.
TEST(LastErrorText, FacilityCodeAndTheSystemText) {
    const Row rows[] = {
        {"access denied", "5", "0/5 - Access denied."},
        {"file not found", "2", "0/2 - File not found."},
        {"HRESULT split", "80070005", "7/5 - Access denied."},
        {"HRESULT without system text", "80040154", "4/340 -"},
        {"customer code without system text", "20001234", "0/4660 -"},
    };
    CheckRows(rows, [](const std::string& code) {
        SetLastError(strtoul(code.c_str(), nullptr, 16));
        return std::string(LastErrorText());
    });
}

}  // namespace
