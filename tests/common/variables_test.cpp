// %Name% expansion, path joining and the directory of a path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/setup_state.h"
#include "common/variables.h"
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

// A buffer of `size` bytes followed by guard bytes that must stay untouched.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int size) : size_(size), bytes_(size + GuardBytes, Guard) {}
    char* Data() { return bytes_.data(); }
    int Size() const { return size_; }
    std::string Text() const { return std::string(bytes_.data()); }
    bool GuardIntact() const {
        for (int i = size_; i < size_ + GuardBytes; i++) {
            if (bytes_[i] != Guard)
                return false;
        }
        return true;
    }

private:
    static const int GuardBytes = 16;
    static const char Guard = '\x5A';
    int size_;
    std::vector<char> bytes_;
};

void ExpectTooLong(const ScriptedResponder& responder, const std::string& text) {
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: " + text);
    EXPECT_EQ(responder.Boxes()[0].Title, "Setup");
    EXPECT_EQ(responder.Boxes()[0].Type, static_cast<UINT>(MB_ICONERROR));
}

struct ExpandCase {
    const char* Text;
    const char* Expected;
    ExpandResult Result;
};

TEST_F(VariablesTest, ExpandsKnownReferencesOnly) {
    const std::string name21(21, 'A');
    const std::string name200(200, 'B');
    const std::string longName21 = "%" + name21 + "%";
    const std::string longName200 = "x%" + name200 + "%y";
    const ExpandCase cases[] = {
        {"%WindowsDir%\\system", "C:\\WINDOWS\\system", SomethingExpanded},
        {"%windowsdir%\\system", "%windowsdir%\\system", NothingExpanded},
        {"100%", "100%", NothingExpanded},
        {"100% sure", "100% sure", NothingExpanded},
        {"%%InstallDir%", "%D:\\Product", SomethingExpanded},
        {"%Foo%InstallDir%", "%FooD:\\Product", SomethingExpanded},
        {"%CommonProgramsFolder%", "C:\\Common", SomethingExpanded},
        {"a%LocalProgramsFolder%b", "aC:\\Localb", SomethingExpanded},
        {longName21.c_str(), longName21.c_str(), NothingExpanded},
        {longName200.c_str(), longName200.c_str(), NothingExpanded},
        {"Uninstall %AppName%", "Uninstall Tool %AppName% 100%", SomethingExpanded},
        {"%InstallDir%%WindowsDir%", "D:\\ProductC:\\WINDOWS", SomethingExpanded},
        {"%ProgramFilesDir%\\Sample", "\\Sample", SomethingExpanded},
        {"%WindowsDir", "%WindowsDir", NothingExpanded},
        {"%%", "%%", NothingExpanded},
        {"", "", NothingExpanded},
    };
    ScriptedResponder responder;
    for (const ExpandCase& c : cases) {
        GuardedBuffer output(PathBufferSize);
        EXPECT_EQ(ExpandVariables(output.Data(), output.Size(), c.Text), c.Result) << c.Text;
        EXPECT_EQ(output.Text(), c.Expected) << c.Text;
    }
    EXPECT_TRUE(responder.Boxes().empty());
}

struct JoinCase {
    const char* Directory;
    const char* Name;
    const char* Expected;
};

TEST_F(VariablesTest, JoinsWithOneBackslashDecidedByTheDirectory) {
    const JoinCase cases[] = {
        {"C:\\Dir\\", "file.txt", "C:\\Dir\\file.txt"},
        {"C:\\Dir", "file.txt", "C:\\Dir\\file.txt"},
        {"", "file.txt", "file.txt"},
        {"C:\\Dir", "\\file.txt", "C:\\Dir\\\\file.txt"},
        {"%InstallDir%", "readme.txt", "D:\\Product\\readme.txt"},
        {"%ProgramFilesDir%", "file.txt", "file.txt"},
        {"%WindowsDir%\\", "%AppName%.txt", "C:\\WINDOWS\\Tool %AppName% 100%.txt"},
        {"C:\\Dir", "", "C:\\Dir\\"},
    };
    ScriptedResponder responder;
    for (const JoinCase& c : cases) {
        GuardedBuffer output(PathBufferSize);
        EXPECT_EQ(JoinPath(output.Data(), output.Size(), c.Directory, c.Name), output.Data()) << c.Directory;
        EXPECT_EQ(output.Text(), c.Expected) << c.Directory << " + " << c.Name;
    }
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(VariablesTest, DirectoryOfIsThePathUpToItsLastBackslash) {
    const std::string longDirectory = "C:\\" + std::string(300, 'd');
    const std::string longPath = longDirectory + "\\file.txt";
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

TEST_F(VariablesTest, ExpansionThatDoesNotFitFailsWithoutOverrun) {
    // "C:\WINDOWS" has 10 characters: it fits 11 bytes exactly, not 10.
    const struct {
        int Size;
        const char* Text;
        ExpandResult Result;
        const char* Expected;
    } cases[] = {
        {11, "%WindowsDir%", SomethingExpanded, "C:\\WINDOWS"},
        {10, "%WindowsDir%", ExpandFailed, ""},
        {11, "0123456789", NothingExpanded, "0123456789"},
        {10, "0123456789", ExpandFailed, ""},
        {12, "%WindowsDir%\\x", ExpandFailed, ""},
    };
    for (const auto& c : cases) {
        ScriptedResponder responder;
        GuardedBuffer output(c.Size);
        EXPECT_EQ(ExpandVariables(output.Data(), output.Size(), c.Text), c.Result) << c.Text << " in " << c.Size;
        EXPECT_EQ(output.Text(), c.Expected);
        EXPECT_TRUE(output.GuardIntact()) << c.Text << " in " << c.Size;
        if (c.Result == ExpandFailed)
            ExpectTooLong(responder, c.Text);
        else
            EXPECT_TRUE(responder.Boxes().empty());
    }
}

TEST_F(VariablesTest, LongValueBehindLongDirectoryFailsTheJoin) {
    char longInstallDir[PathBufferSize];
    lstrcpyA(longInstallDir, ("C:\\" + std::string(196, 'i')).c_str());  // 199 characters
    ::Setup.InstallDir = longInstallDir;
    const std::string longName(60, 'n');  // 199 + 1 + 60 characters: one too many
    const struct {
        const char* Directory;
        const char* Name;
        const char* Named;  // the text that did not fit
    } cases[] = {
        {"%InstallDir%", "%InstallDir%", "%InstallDir%"},
        {"%InstallDir%\\%InstallDir%", "file.txt", "%InstallDir%\\%InstallDir%"},
        {"%InstallDir%", longName.c_str(), longName.c_str()},
    };
    for (const auto& c : cases) {
        ScriptedResponder responder;
        GuardedBuffer output(PathBufferSize);
        EXPECT_EQ(JoinPath(output.Data(), output.Size(), c.Directory, c.Name), nullptr) << c.Directory;
        EXPECT_EQ(output.Text(), "");
        EXPECT_TRUE(output.GuardIntact()) << c.Directory << " + " << c.Name;
        ExpectTooLong(responder, c.Named);
    }
}

TEST_F(VariablesTest, SeparatorThatDoesNotFitFailsTheJoin) {
    // The directory fills the buffer to its last character; the backslash has
    // no room, and the name is what cannot be added.
    ScriptedResponder responder;
    GuardedBuffer output(11);
    EXPECT_EQ(JoinPath(output.Data(), output.Size(), "%WindowsDir%", "x"), nullptr);
    EXPECT_EQ(output.Text(), "");
    EXPECT_TRUE(output.GuardIntact());
    ExpectTooLong(responder, "x");
}

}  // namespace
