// Error texts, %Name% references, joined paths and the folder of a path.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "common/variables.h"
#include "unit/shown_boxes.h"

namespace {

// "facility/code - system text"; a code the system has no text for ends
// in the dash, and no text ends in a blank.
TEST(LastErrorText, FacilityCodeAndTheSystemText) {
    const struct {
        const char* Name;
        DWORD Code;
        const char* Text;
    } cases[] = {
        {"access denied", ERROR_ACCESS_DENIED, "0/5 - Access denied."},
        {"file not found", ERROR_FILE_NOT_FOUND, "0/2 - File not found."},
        {"HRESULT split", (DWORD)E_ACCESSDENIED, "7/5 - Access denied."},
        {"HRESULT without system text", (DWORD)REGDB_E_CLASSNOTREG, "4/340 -"},
        {"no system text", 0x20001234, "0/4660 -"},
    };
    for (const auto& c : cases) {
        SetLastError(c.Code);
        EXPECT_STREQ(LastErrorText(), c.Text) << c.Name;
    }
}

char WindowsDir[] = "C:\\WINDOWS";
char InstallDir[] = "D:\\Product";
char LongInstallDir[PathBufferSize];  // 199 characters
char AppName[] = "Tool %AppName% 100%";  // a value with references and percent signs
char CommonPrograms[] = "C:\\Common";
char LocalPrograms[] = "C:\\Local";

void SetVariables(char* installDir) {
    Setup.WindowsDir = WindowsDir;
    Setup.InstallDir = installDir;
    Setup.AppName = AppName;
    Setup.CommonProgramsFolder = CommonPrograms;
    Setup.LocalProgramsFolder = LocalPrograms;
    Setup.ProgramFilesDir = nullptr;  // not set yet: expands to nothing
}

// The output buffer of `size` bytes with guard bytes behind it.
struct Output {
    explicit Output(int size) : Size(size), Bytes(size + 16, 'G') {}
    char* Data() { return &Bytes[0]; }
    bool GuardIntact() const { return Bytes.substr(Size) == std::string(16, 'G'); }
    int Size;
    std::string Bytes;
};

const char TooLong[] = "Text is too long after expansion: ";

// Known names in exact case are replaced; a result that does not fit
// fails whole, names the text and writes nothing past the buffer.
TEST(ExpandVariables, ReplacesKnownReferencesWithinTheBuffer) {
    SetVariables(InstallDir);
    const std::string name21 = "%" + std::string(21, 'A') + "%";
    const std::string name200 = "x%" + std::string(200, 'B') + "%y";
    const struct {
        const char* Name;
        std::string Text;
        int Size;
        const char* Expected;
        ExpandResult Result;
    } cases[] = {
        {"one reference", "%WindowsDir%\\system", PathBufferSize, "C:\\WINDOWS\\system", SomethingExpanded},
        {"names have case", "%windowsdir%\\system", PathBufferSize, "%windowsdir%\\system", NothingExpanded},
        {"lone percent at the end", "100%", PathBufferSize, "100%", NothingExpanded},
        {"lone percent inside", "100% sure", PathBufferSize, "100% sure", NothingExpanded},
        {"percent before a reference", "%%InstallDir%", PathBufferSize, "%D:\\Product", SomethingExpanded},
        {"closing percent of an unknown name opens", "%Foo%InstallDir%", PathBufferSize, "%FooD:\\Product",
         SomethingExpanded},
        {"longest name", "%CommonProgramsFolder%", PathBufferSize, "C:\\Common", SomethingExpanded},
        {"between letters", "a%LocalProgramsFolder%b", PathBufferSize, "aC:\\Localb", SomethingExpanded},
        {"name of 21 characters", name21, PathBufferSize, name21.c_str(), NothingExpanded},
        {"name of 200 characters", name200, PathBufferSize, name200.c_str(), NothingExpanded},
        {"a value is not expanded again", "Uninstall %AppName%", PathBufferSize, "Uninstall Tool %AppName% 100%",
         SomethingExpanded},
        {"two in a row", "%InstallDir%%WindowsDir%", PathBufferSize, "D:\\ProductC:\\WINDOWS", SomethingExpanded},
        {"unset value", "%ProgramFilesDir%\\Sample", PathBufferSize, "\\Sample", SomethingExpanded},
        {"unclosed", "%WindowsDir", PathBufferSize, "%WindowsDir", NothingExpanded},
        {"empty name", "%%", PathBufferSize, "%%", NothingExpanded},
        {"empty text", "", PathBufferSize, "", NothingExpanded},
        {"value fills the buffer", "%WindowsDir%", 11, "C:\\WINDOWS", SomethingExpanded},
        {"value one too long", "%WindowsDir%", 10, "", ExpandFailed},
        {"plain text fills the buffer", "0123456789", 11, "0123456789", NothingExpanded},
        {"plain text one too long", "0123456789", 10, "", ExpandFailed},
        {"text after the value too long", "%WindowsDir%\\x", 12, "", ExpandFailed},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        Output output(c.Size);
        EXPECT_EQ(ExpandVariables(output.Data(), output.Size, c.Text.c_str()), c.Result) << c.Name;
        EXPECT_STREQ(output.Data(), c.Expected) << c.Name;
        EXPECT_TRUE(output.GuardIntact()) << c.Name;
        EXPECT_EQ(boxes.Texts(), c.Result == ExpandFailed ? TooLong + c.Text + "|" : "") << c.Name;
    }
}

// One backslash between the expanded parts, decided by the directory; a
// join that does not fit fails whole and names the part that did not fit.
TEST(JoinPath, JoinsWithOneBackslashWithinTheBuffer) {
    const std::string installDir = "C:\\" + std::string(196, 'i');
    lstrcpyA(LongInstallDir, installDir.c_str());
    SetVariables(LongInstallDir);
    const std::string name60(60, 'n');  // 199 + 1 + 60 characters: one too many
    const std::string readme = installDir + "\\readme.txt";
    const struct {
        const char* Name;
        const char* Directory;
        const char* File;
        int Size;
        const char* Expected;  // null: fails
        const char* Named;     // the text that did not fit
    } cases[] = {
        {"directory ends in a backslash", "C:\\Dir\\", "file.txt", PathBufferSize, "C:\\Dir\\file.txt", nullptr},
        {"backslash added", "C:\\Dir", "file.txt", PathBufferSize, "C:\\Dir\\file.txt", nullptr},
        {"empty directory", "", "file.txt", PathBufferSize, "file.txt", nullptr},
        {"the name's backslash stays", "C:\\Dir", "\\file.txt", PathBufferSize, "C:\\Dir\\\\file.txt", nullptr},
        {"long directory fits", "%InstallDir%", "readme.txt", PathBufferSize, readme.c_str(), nullptr},
        {"directory expands to nothing", "%ProgramFilesDir%", "file.txt", PathBufferSize, "file.txt", nullptr},
        {"both expanded", "%WindowsDir%\\", "%AppName%.txt", PathBufferSize, "C:\\WINDOWS\\Tool %AppName% 100%.txt",
         nullptr},
        {"empty name", "C:\\Dir", "", PathBufferSize, "C:\\Dir\\", nullptr},
        {"name does not fit", "%InstallDir%", "%InstallDir%", PathBufferSize, nullptr, "%InstallDir%"},
        {"directory does not fit", "%InstallDir%\\%InstallDir%", "file.txt", PathBufferSize, nullptr,
         "%InstallDir%\\%InstallDir%"},
        {"one character too many", "%InstallDir%", name60.c_str(), PathBufferSize, nullptr, name60.c_str()},
        {"no room for the backslash", "%WindowsDir%", "x", 11, nullptr, "x"},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        Output output(c.Size);
        EXPECT_EQ(JoinPath(output.Data(), output.Size, c.Directory, c.File), c.Expected ? output.Data() : nullptr)
            << c.Name;
        EXPECT_STREQ(output.Data(), c.Expected ? c.Expected : "") << c.Name;
        EXPECT_TRUE(output.GuardIntact()) << c.Name;
        EXPECT_EQ(boxes.Texts(), c.Named ? TooLong + std::string(c.Named) + "|" : "") << c.Name;
    }
}

TEST(DirectoryOf, IsThePathUpToItsLastBackslash) {
    const std::string longPath = "C:\\" + std::string(300, 'd') + "\\file.txt";
    const struct {
        const char* Name;
        const char* Path;
        const char* Expected;
    } cases[] = {
        {"program path", "C:\\Program Files\\Product\\sample.exe", "C:\\Program Files\\Product"},
        {"drive root", "C:\\sample.exe", "C:"},
        {"network share", "\\\\server\\share\\sample.exe", "\\\\server\\share"},
        {"trailing backslash", "C:\\Product\\", "C:\\Product"},
        {"no backslash", "sample.exe", ""},
        {"empty", "", ""},
        {"longer than any path: none, never a cut one", longPath.c_str(), ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(DirectoryOf(c.Path), c.Expected) << c.Name;
}

}  // namespace
