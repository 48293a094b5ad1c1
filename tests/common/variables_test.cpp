// %Name% expansion, path joining and the directory of a path.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "common/variables.h"
#include "support/guarded_buffer.h"
#include "support/responder.h"

namespace {

class VariablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup.WindowsDir = windowsDir_;
        ::Setup.InstallDir = installDir_;
        ::Setup.AppName = appName_;
        ::Setup.CommonProgramsFolder = commonPrograms_;
        ::Setup.LocalProgramsFolder = localPrograms_;
        ::Setup.ProgramFilesDir = nullptr;  // not set yet: expands to nothing
    }
    void TearDown() override {
        ::Setup.WindowsDir = nullptr;
        ::Setup.InstallDir = nullptr;
        ::Setup.AppName = nullptr;
        ::Setup.CommonProgramsFolder = nullptr;
        ::Setup.LocalProgramsFolder = nullptr;
    }

    char windowsDir_[16] = "C:\\WINDOWS";
    char installDir_[16] = "D:\\Product";
    // A value that itself holds references and percent signs.
    char appName_[32] = "Tool %AppName% 100%";
    char commonPrograms_[16] = "C:\\Common";
    char localPrograms_[16] = "C:\\Local";
};

// The one box of a text that did not fit.
void ExpectTooLong(const ScriptedResponder& responder, const std::string& text) {
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: " + text);
    EXPECT_EQ(responder.Boxes()[0].Title, "Setup");
    EXPECT_EQ(responder.Boxes()[0].Type, static_cast<UINT>(MB_ICONERROR));
}

// Only known names in exact case are replaced; a result that does not fit
// the buffer (11 bytes hold "C:\WINDOWS", 10 do not) fails whole, says so
// and writes nothing past it.
TEST_F(VariablesTest, ExpandsKnownReferencesOnlyAndWithinTheBuffer) {
    const std::string longName21 = "%" + std::string(21, 'A') + "%";
    const std::string longName200 = "x%" + std::string(200, 'B') + "%y";
    const struct {
        const char* Text;
        const char* Expected;
        ExpandResult Result;
        int Size;
    } cases[] = {
        {"%WindowsDir%\\system", "C:\\WINDOWS\\system", SomethingExpanded, PathBufferSize},
        {"%windowsdir%\\system", "%windowsdir%\\system", NothingExpanded, PathBufferSize},
        {"100%", "100%", NothingExpanded, PathBufferSize},
        {"100% sure", "100% sure", NothingExpanded, PathBufferSize},
        {"%%InstallDir%", "%D:\\Product", SomethingExpanded, PathBufferSize},
        {"%Foo%InstallDir%", "%FooD:\\Product", SomethingExpanded, PathBufferSize},
        {"%CommonProgramsFolder%", "C:\\Common", SomethingExpanded, PathBufferSize},
        {"a%LocalProgramsFolder%b", "aC:\\Localb", SomethingExpanded, PathBufferSize},
        {longName21.c_str(), longName21.c_str(), NothingExpanded, PathBufferSize},
        {longName200.c_str(), longName200.c_str(), NothingExpanded, PathBufferSize},
        {"Uninstall %AppName%", "Uninstall Tool %AppName% 100%", SomethingExpanded, PathBufferSize},
        {"%InstallDir%%WindowsDir%", "D:\\ProductC:\\WINDOWS", SomethingExpanded, PathBufferSize},
        {"%ProgramFilesDir%\\Sample", "\\Sample", SomethingExpanded, PathBufferSize},
        {"%WindowsDir", "%WindowsDir", NothingExpanded, PathBufferSize},
        {"%%", "%%", NothingExpanded, PathBufferSize},
        {"", "", NothingExpanded, PathBufferSize},
        {"%WindowsDir%", "C:\\WINDOWS", SomethingExpanded, 11},
        {"%WindowsDir%", "", ExpandFailed, 10},
        {"0123456789", "0123456789", NothingExpanded, 11},
        {"0123456789", "", ExpandFailed, 10},
        {"%WindowsDir%\\x", "", ExpandFailed, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Text) + " in " + std::to_string(c.Size));
        ScriptedResponder responder;
        GuardedBuffer output(c.Size);
        EXPECT_EQ(ExpandVariables(output.Data(), output.Size, c.Text), c.Result);
        EXPECT_EQ(output.Text(), c.Expected);
        EXPECT_TRUE(output.GuardIntact());
        if (c.Result == ExpandFailed)
            ExpectTooLong(responder, c.Text);
        else
            EXPECT_TRUE(responder.Boxes().empty());
    }
}

// One backslash between the expanded parts, decided by the directory; a
// join that does not fit fails whole and names the part that did not fit.
// The install directory here has 199 characters.
TEST_F(VariablesTest, JoinsWithOneBackslashWithinTheBuffer) {
    const std::string installDir = "C:\\" + std::string(196, 'i');
    char longInstallDir[PathBufferSize];
    lstrcpyA(longInstallDir, installDir.c_str());
    ::Setup.InstallDir = longInstallDir;
    const std::string longName(60, 'n');  // 199 + 1 + 60 characters: one too many
    const std::string readme = installDir + "\\readme.txt";
    const struct {
        const char* Directory;
        const char* Name;
        const char* Expected;  // null: fails
        const char* Named;     // the text that did not fit
        int Size;
    } cases[] = {
        {"C:\\Dir\\", "file.txt", "C:\\Dir\\file.txt", nullptr, PathBufferSize},
        {"C:\\Dir", "file.txt", "C:\\Dir\\file.txt", nullptr, PathBufferSize},
        {"", "file.txt", "file.txt", nullptr, PathBufferSize},
        {"C:\\Dir", "\\file.txt", "C:\\Dir\\\\file.txt", nullptr, PathBufferSize},
        {"%InstallDir%", "readme.txt", readme.c_str(), nullptr, PathBufferSize},
        {"%ProgramFilesDir%", "file.txt", "file.txt", nullptr, PathBufferSize},
        {"%WindowsDir%\\", "%AppName%.txt", "C:\\WINDOWS\\Tool %AppName% 100%.txt", nullptr, PathBufferSize},
        {"C:\\Dir", "", "C:\\Dir\\", nullptr, PathBufferSize},
        {"%InstallDir%", "%InstallDir%", nullptr, "%InstallDir%", PathBufferSize},
        {"%InstallDir%\\%InstallDir%", "file.txt", nullptr, "%InstallDir%\\%InstallDir%", PathBufferSize},
        {"%InstallDir%", longName.c_str(), nullptr, longName.c_str(), PathBufferSize},
        // The directory fills the buffer to its last character: the
        // backslash has no room, and the name is what cannot be added.
        {"%WindowsDir%", "x", nullptr, "x", 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Directory) + " + " + c.Name + " in " + std::to_string(c.Size));
        ScriptedResponder responder;
        GuardedBuffer output(c.Size);
        EXPECT_EQ(JoinPath(output.Data(), output.Size, c.Directory, c.Name), c.Expected ? output.Data() : nullptr);
        EXPECT_EQ(output.Text(), c.Expected ? c.Expected : "");
        EXPECT_TRUE(output.GuardIntact());
        if (c.Expected)
            EXPECT_TRUE(responder.Boxes().empty());
        else
            ExpectTooLong(responder, c.Named);
    }
}

TEST_F(VariablesTest, DirectoryOfIsThePathUpToItsLastBackslash) {
    const std::string longPath = "C:\\" + std::string(300, 'd') + "\\file.txt";
    const struct {
        const char* Path;
        const char* Expected;
    } cases[] = {
        {"C:\\Program Files\\Product\\sample.exe", "C:\\Program Files\\Product"},
        {"C:\\sample.exe", "C:"},
        {"\\\\server\\share\\sample.exe", "\\\\server\\share"},
        {"C:\\Product\\", "C:\\Product"},
        {"sample.exe", ""},
        {"", ""},
        // Longer than any path of the program: no directory, never a cut one.
        {longPath.c_str(), ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(DirectoryOf(c.Path), c.Expected) << c.Path;
}

}  // namespace
