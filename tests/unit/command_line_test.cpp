// The process command line: the arguments after the program name, the mode
// and working directory they choose, and the hexadecimal process id of -u;
// the text of the last error.
#include <cstring>

#include "startup/startup.h"
#include "unit/tables.h"

namespace {

// A refusal is one error box, at most 255 characters of it.
TEST(CommandLine, ChoosesModeDirectoryAndProcessIdOrRefuses) {
    const std::string longest = "/" + std::string(600, 'x');
    const Row rows[] = {
        {"no arguments: the program's folder", "setup.exe", "install 0 D:\\Disk"},
        {"empty command line", "", "install 0 D:\\Disk"},
        {"-c: the current folder, whatever follows", "setup.exe  \t -cxyz E:\\else", "install 0 C:\\users\\current"},
        {"quoted name with a blank", "\"C:\\Program Files\\Product\\setup.exe\" -c", "install 0 C:\\users\\current"},
        {"nothing between quote and argument", "\"C:\\Program Files\\setup.exe\"-u", "uninstall 0 D:\\Disk"},
        {"a tab does not end the name", "setup.exe\t-u", "install 0 D:\\Disk"},
        {"no closing quote", "\"C:\\Program Files\\setup.exe -u", "install 0 D:\\Disk"},
        {"-t and its folder with trailing blanks", "\"setup.exe\"   -t  C:\\d  ", "check 0 C:\\d  "},
        {"-t alone: the program's folder", "setup.exe -t", "check 0 D:\\Disk"},
        {"empty name of the uninstall copy", " -u 0000ABCD C:\\some dir", "uninstall ABCD C:\\some dir"},
        {"id right after the switch, either case", "setup.exe -u1a2B", "uninstall 1A2B D:\\Disk"},
        {"tabs as blanks", "setup.exe -u\t00ff\tC:\\dir", "uninstall FF C:\\dir"},
        {"hex digits stop at g", "setup.exe -u abcdefg", "uninstall ABCDEF g"},
        {"largest id", "setup.exe -u FFFFFFFF", "uninstall FFFFFFFF D:\\Disk"},
        {"ninth digit starts the folder, though the value wraps", "s -u 123456789", "uninstall 12345678 9"},
        {"leading zeros count nothing", "setup.exe -u 00000000FFFFFFFF0", "uninstall FFFFFFFF 0"},
        {"drive letter read as a digit", "setup.exe -u C:\\dir", "uninstall C :\\dir"},
        {"no prefix", "setup.exe -u 0x1F", "uninstall 0 x1F"},
        {"no sign", "setup.exe -u -5", "uninstall 0 -5"},
        {"at before A", "setup.exe -u @", "uninstall 0 @"},
        {"backquote before a", "setup.exe -u `", "uninstall 0 `"},
        {"a letter above 127", "setup.exe -u 12\xE4", "uninstall 12 \xE4"},
        {"switch letters have case", "setup.exe -C", "refused [Invalid command line switch \"C\"]"},
        {"unknown switch", "setup.exe -x -c", "refused [Invalid command line switch \"x\"]"},
        {"dash alone: the NUL is the switch", "setup.exe -", "refused [Invalid command line switch \"]"},
        {"no switch", "setup.exe /u", "refused [Invalid command line \"/u\"]"},
        {"cut at 255", "setup.exe " + longest,
         "refused [" + ("Invalid command line \"" + longest).substr(0, 255) + "]"},
    };
    CheckRows(rows, [](const std::string& line) {
        const char* arguments = ArgumentTextOf(line.c_str());
        if (arguments != line.c_str() + line.size() - strlen(arguments))
            return std::string("(not in the command line)");
        CommandLineChoice choice;
        if (!InterpretCommandLine(arguments, "C:\\users\\current", "D:\\Disk", &choice))
            return std::string("refused");
        char id[16];
        wsprintfA(id, " %X ", choice.ProcessId);
        const char* modes[] = {"install", "uninstall", "check"};
        return modes[choice.Mode] + std::string(id) + choice.DirectoryText;
    });
}

// "facility/code - system text"; a code the system has no text for ends
// in the dash, and no text ends in a blank.
TEST(LastErrorText, FacilityCodeAndTheSystemText) {
    const Row rows[] = {
        {"access denied", "5", "0/5 - Access denied."},
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
