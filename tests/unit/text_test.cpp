// %Name% references, joined paths and the folder of a path.
#include "common/setup_state.h"
#include "common/variables.h"
#include "unit/tables.h"

namespace {

const std::string InstallDir = "C:\\" + std::string(196, 'i');  // 199 characters

// A text is expanded, "directory|name" joined, into the first bytes of a
// larger buffer: 260 or the number after '#'. Known names in exact case are
// replaced, a value as it is; a result that does not fit fails whole, names
// the text that did not fit and writes nothing.
TEST(ExpandVariablesAndJoinPath, ReplaceReferencesAndJoinWithinTheBuffer) {
    static char windowsDir[] = "C:\\WINDOWS", installDir[PathBufferSize], commonPrograms[] = "C:\\Common";
    static char appName[] = "Tool %AppName% 100%";  // a value with references and percent signs
    lstrcpyA(installDir, InstallDir.c_str());
    ::Setup.WindowsDir = windowsDir;
    ::Setup.InstallDir = installDir;
    ::Setup.AppName = appName;
    ::Setup.CommonProgramsFolder = commonPrograms;
    ::Setup.ProgramFilesDir = nullptr;  // not set yet: expands to nothing
    const std::string name200 = "x%" + std::string(200, 'B') + "%y", name59(59, 'n');
    const std::string tooLong = "failed [Text is too long after expansion: ";
    const Row rows[] = {
        {"one reference", "%WindowsDir%\\system", "expanded: C:\\WINDOWS\\system"},
        {"names have case", "%windowsdir%\\system", "as is: %windowsdir%\\system"},
        {"an empty name opens nothing", "%%WindowsDir%", "expanded: %C:\\WINDOWS"},
        {"closing percent of an unknown name opens", "%Foo%WindowsDir%", "expanded: %FooC:\\WINDOWS"},
        {"longest name", "%CommonProgramsFolder%", "expanded: C:\\Common"},
        {"name beyond the name buffer", name200, "as is: " + name200},
        {"two in a row, a value not expanded again", "%WindowsDir%%AppName%",
         "expanded: C:\\WINDOWSTool %AppName% 100%"},
        {"unset value", "%ProgramFilesDir%\\Sample", "expanded: \\Sample"},
        {"unclosed", "%WindowsDir", "as is: %WindowsDir"},
        {"empty text", "", "as is: "},
        {"value fills the buffer", "%WindowsDir%#11", "expanded: C:\\WINDOWS"},
        {"value one too long", "%WindowsDir%#10", tooLong + "%WindowsDir%]"},
        {"plain text fills the buffer", "0123456789#11", "as is: 0123456789"},
        {"plain text one too long", "0123456789#10", tooLong + "0123456789]"},
        {"backslash added", "C:\\Dir|file.txt", "joined: C:\\Dir\\file.txt"},
        {"empty directory", "|file.txt", "joined: file.txt"},
        {"the name's backslash stays", "C:\\Dir|\\file.txt", "joined: C:\\Dir\\\\file.txt"},
        {"directory expands to nothing", "%ProgramFilesDir%|file.txt", "joined: file.txt"},
        {"both expanded, one backslash", "%WindowsDir%\\|%AppName%.txt", "joined: C:\\WINDOWS\\Tool %AppName% 100%.txt"},
        {"join fills the buffer", "%InstallDir%|" + name59, "joined: " + InstallDir + "\\" + name59},
        {"join one character too long", "%InstallDir%|n" + name59, tooLong + "n" + name59 + "]"},
        {"directory does not fit", "%InstallDir%\\%InstallDir%|f", tooLong + "%InstallDir%\\%InstallDir%]"},
        {"no room for the backslash", "%WindowsDir%|x#11", tooLong + "x]"},
    };
    CheckRows(rows, [](const std::string& input) {
        size_t hash = input.find('#');
        size_t size = hash == std::string::npos ? PathBufferSize : std::stoul(input.substr(hash + 1));
        std::vector<std::string> f = Fields(input.substr(0, hash));
        std::string bytes(size + 16, 'G');
        std::string outcome;
        if (f.size() == 1) {
            const char* results[] = {"failed", "as is: ", "expanded: "};
            outcome = results[ExpandVariables(&bytes[0], (int)size, f[0].c_str()) + 1];
        } else {
            char* joined = JoinPath(&bytes[0], (int)size, f[0].c_str(), f[1].c_str());
            outcome = joined == &bytes[0] ? "joined: " : joined ? "(elsewhere) " : "failed";
        }
        return outcome + bytes.c_str() + (bytes.substr(size) == std::string(16, 'G') ? "" : " (past the buffer)");
    });
}

// Every path of the program fits 260 characters: a longer directory is none.
TEST(DirectoryOf, IsThePathUpToItsLastBackslash) {
    const std::string d259 = "C:\\" + std::string(256, 'd');
    const Row rows[] = {
        {"program path", "C:\\Program Files\\Product\\sample.exe", "C:\\Program Files\\Product"},
        {"trailing backslash", "C:\\Product\\", "C:\\Product"},
        {"no backslash", "sample.exe", ""},
        {"directory of 259 characters", d259 + "\\file.txt", d259},
        {"of 260: none, never a cut one", d259 + "d\\file.txt", ""},
    };
    CheckRows(rows, [](const std::string& path) { return std::string(DirectoryOf(path.c_str())); });
}

}  // namespace
