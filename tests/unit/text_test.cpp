// %Name% references, joined paths and the folder of a path.
#include "common/setup_state.h"
#include "common/variables.h"
#include "unit/tables.h"

namespace {

char WindowsDir[] = "C:\\WINDOWS";
char InstallDir[PathBufferSize];         // 199 characters
char AppName[] = "Tool %AppName% 100%";  // a value with references and percent signs
char CommonPrograms[] = "C:\\Common";
char LocalPrograms[] = "C:\\Local";

void SetVariables() {
    Setup.WindowsDir = WindowsDir;
    lstrcpyA(InstallDir, ("C:\\" + std::string(196, 'i')).c_str());
    Setup.InstallDir = InstallDir;
    Setup.AppName = AppName;
    Setup.CommonProgramsFolder = CommonPrograms;
    Setup.LocalProgramsFolder = LocalPrograms;
    Setup.ProgramFilesDir = nullptr;  // not set yet: expands to nothing
}

// The output of a writer given `size` bytes of a larger buffer (260 when
// the size is not given in the last field); "(past the buffer)" when
// anything lands behind them.
template <typename Writer>
std::string Written(const std::vector<std::string>& fields, size_t count, Writer write) {
    size_t size = fields.size() > count ? std::stoul(fields[count]) : PathBufferSize;
    std::string bytes(size + 16, 'G');
    std::string outcome = write(&bytes[0], (int)size);
    return outcome + bytes.c_str() + (bytes.substr(size) == std::string(16, 'G') ? "" : " (past the buffer)");
}

// Known names in exact case are replaced; a result that does not fit
// fails whole, says which text and writes nothing.
TEST(ExpandVariables, ReplacesKnownReferencesWithinTheBuffer) {
    SetVariables();
    const std::string name21 = "%" + std::string(21, 'A') + "%";
    const std::string name200 = "x%" + std::string(200, 'B') + "%y";
    const Row rows[] = {
        {"one reference", "%WindowsDir%\\system", "expanded: C:\\WINDOWS\\system"},
        {"names have case", "%windowsdir%\\system", "as is: %windowsdir%\\system"},
        {"lone percent at the end", "100%", "as is: 100%"},
        {"lone percent inside", "100% sure", "as is: 100% sure"},
        {"percent before a reference", "%%WindowsDir%", "expanded: %C:\\WINDOWS"},
        {"closing percent of an unknown name opens", "%Foo%WindowsDir%", "expanded: %FooC:\\WINDOWS"},
        {"longest name", "%CommonProgramsFolder%", "expanded: C:\\Common"},
        {"between letters", "a%LocalProgramsFolder%b", "expanded: aC:\\Localb"},
        {"name of 21 characters", name21, "as is: " + name21},
        {"name of 200 characters", name200, "as is: " + name200},
        {"a value is not expanded again", "Uninstall %AppName%", "expanded: Uninstall Tool %AppName% 100%"},
        {"two in a row", "%WindowsDir%%AppName%", "expanded: C:\\WINDOWSTool %AppName% 100%"},
        {"unset value", "%ProgramFilesDir%\\Sample", "expanded: \\Sample"},
        {"unclosed", "%WindowsDir", "as is: %WindowsDir"},
        {"empty name", "%%", "as is: %%"},
        {"empty text", "", "as is: "},
        {"value fills the buffer", "%WindowsDir%|11", "expanded: C:\\WINDOWS"},
        {"value one too long", "%WindowsDir%|10", "failed [Text is too long after expansion: %WindowsDir%]"},
        {"plain text fills the buffer", "0123456789|11", "as is: 0123456789"},
        {"plain text one too long", "0123456789|10", "failed [Text is too long after expansion: 0123456789]"},
        {"text after the value too long", "%WindowsDir%\\x|12",
         "failed [Text is too long after expansion: %WindowsDir%\\x]"},
    };
    CheckRows(rows, [](const std::string& input) {
        std::vector<std::string> fields = Fields(input);
        return Written(fields, 1, [&](char* output, int size) {
            const char* results[] = {"failed", "as is: ", "expanded: "};
            return results[ExpandVariables(output, size, fields[0].c_str()) + 1];
        });
    });
}

// One backslash between the expanded parts, decided by the directory; a
// join that does not fit fails whole and names the part that did not fit.
TEST(JoinPath, JoinsWithOneBackslashWithinTheBuffer) {
    SetVariables();
    const std::string name60(60, 'n');  // 199 + 1 + 60 characters: one too many
    const Row rows[] = {
        {"directory ends in a backslash", "C:\\Dir\\|file.txt", "C:\\Dir\\file.txt"},
        {"backslash added", "C:\\Dir|file.txt", "C:\\Dir\\file.txt"},
        {"empty directory", "|file.txt", "file.txt"},
        {"the name's backslash stays", "C:\\Dir|\\file.txt", "C:\\Dir\\\\file.txt"},
        {"long directory fits", "%InstallDir%|readme.txt", "C:\\" + std::string(196, 'i') + "\\readme.txt"},
        {"directory expands to nothing", "%ProgramFilesDir%|file.txt", "file.txt"},
        {"both expanded", "%WindowsDir%\\|%AppName%.txt", "C:\\WINDOWS\\Tool %AppName% 100%.txt"},
        {"empty name", "C:\\Dir|", "C:\\Dir\\"},
        {"name does not fit", "%InstallDir%|%InstallDir%", "failed [Text is too long after expansion: %InstallDir%]"},
        {"directory does not fit", "%InstallDir%\\%InstallDir%|file.txt",
         "failed [Text is too long after expansion: %InstallDir%\\%InstallDir%]"},
        {"one character too many", "%InstallDir%|" + name60,
         "failed [Text is too long after expansion: " + name60 + "]"},
        {"no room for the backslash", "%WindowsDir%|x|11", "failed [Text is too long after expansion: x]"},
    };
    CheckRows(rows, [](const std::string& input) {
        std::vector<std::string> fields = Fields(input);
        return Written(fields, 2, [&](char* output, int size) {
            char* joined = JoinPath(output, size, fields[0].c_str(), fields[1].c_str());
            return joined == output ? "" : joined ? "(elsewhere) " : "failed";
        });
    });
}

TEST(DirectoryOf, IsThePathUpToItsLastBackslash) {
    const Row rows[] = {
        {"program path", "C:\\Program Files\\Product\\sample.exe", "C:\\Program Files\\Product"},
        {"drive root", "C:\\sample.exe", "C:"},
        {"network share", "\\\\server\\share\\sample.exe", "\\\\server\\share"},
        {"trailing backslash", "C:\\Product\\", "C:\\Product"},
        {"no backslash", "sample.exe", ""},
        {"empty", "", ""},
        {"longer than any path: none, never a cut one", "C:\\" + std::string(300, 'd') + "\\file.txt", ""},
    };
    CheckRows(rows, [](const std::string& path) { return std::string(DirectoryOf(path.c_str())); });
}

}  // namespace
