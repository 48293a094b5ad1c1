// Registry reads, key deletion and the system folders, against the real
// (Wine) registry. Every value a test changes is put back.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "registry/registry.h"
#include "support/responder.h"

namespace {

const char ShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char CurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// Saves a registry value on construction and restores it (or its absence)
// on destruction.
class SavedValue {
public:
    SavedValue(HKEY root, const char* key, const char* name) : root_(root), key_(key), name_(name) {
        DWORD size = sizeof data_;
        existed_ = RegGetValueA(root, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_, &size) == ERROR_SUCCESS;
        size_ = size;
    }
    ~SavedValue() {
        HKEY handle;
        if (RegOpenKeyExA(root_, key_, 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
            return;
        if (existed_)
            RegSetValueExA(handle, name_, 0, type_, data_, size_);
        else
            RegDeleteValueA(handle, name_);
        RegCloseKey(handle);
    }
    std::string Text() const { return existed_ ? std::string(reinterpret_cast<const char*>(data_)) : ""; }

    void Set(DWORD type, const std::string& text) const {
        HKEY handle;
        ASSERT_EQ(RegOpenKeyExA(root_, key_, 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
        RegSetValueExA(handle, name_, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), text.size() + 1);
        RegCloseKey(handle);
    }
    void Remove() const {
        HKEY handle;
        ASSERT_EQ(RegOpenKeyExA(root_, key_, 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
        RegDeleteValueA(handle, name_);
        RegCloseKey(handle);
    }

private:
    HKEY root_;
    const char* key_;
    const char* name_;
    bool existed_;
    DWORD type_ = 0;
    BYTE data_[1024];
    DWORD size_ = 0;
};

class SystemFolders : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup = SetupState();
    }
    SavedValue programs_{HKEY_CURRENT_USER, ShellFolders, "Programs"};
    SavedValue commonPrograms_{HKEY_LOCAL_MACHINE, ShellFolders, "Common Programs"};
    SavedValue programFiles_{HKEY_LOCAL_MACHINE, CurrentVersion, "ProgramFilesDir"};
};

}  // namespace

TEST_F(SystemFolders, AreReadFromTheSystemAndTheRegistry) {
    ScriptedResponder responder;
    ASSERT_TRUE(LoadSystemFolders());
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_STREQ(::Setup.WindowsDir, windows);
    EXPECT_EQ(::Setup.LocalProgramsFolder, programs_.Text());
    EXPECT_EQ(::Setup.CommonProgramsFolder, commonPrograms_.Text());
    EXPECT_EQ(::Setup.ProgramFilesDir, programFiles_.Text());
    EXPECT_NE(programs_.Text(), commonPrograms_.Text());
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(SystemFolders, MissingCommonProgramsFallsBackSilently) {
    commonPrograms_.Remove();
    ScriptedResponder responder;
    ASSERT_TRUE(LoadSystemFolders());
    EXPECT_STREQ(::Setup.CommonProgramsFolder, ::Setup.LocalProgramsFolder);
    EXPECT_NE(::Setup.CommonProgramsFolder, ::Setup.LocalProgramsFolder) << "a copy, not the same string";
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(SystemFolders, MissingProgramsIsReported) {
    programs_.Remove();
    ScriptedResponder responder;
    EXPECT_FALSE(LoadSystemFolders());
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text.rfind("Cannot query registry value \"Programs\" (0/2 - ", 0), 0u)
        << responder.Boxes()[0].Text;
    EXPECT_EQ(responder.Boxes()[0].Type, (UINT)MB_ICONERROR);
}

TEST_F(SystemFolders, ExpandableStringIsNoString) {
    programFiles_.Set(REG_EXPAND_SZ, "%SystemDrive%\\Program Files");
    ScriptedResponder responder;
    EXPECT_FALSE(LoadSystemFolders());
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Registry value \"ProgramFilesDir\" hasn't string type");
}

TEST_F(SystemFolders, ValueLongerThanAPathIsRefused) {
    programFiles_.Set(REG_SZ, "C:\\" + std::string(300, 'x'));
    ScriptedResponder responder;
    EXPECT_FALSE(LoadSystemFolders());
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text.rfind("Cannot query registry value \"ProgramFilesDir\" (0/234 - ", 0), 0u)
        << responder.Boxes()[0].Text;
}

TEST_F(SystemFolders, ValueOfExactlyAPathFits) {
    std::string longest = "C:\\" + std::string(256, 'y');  // 259 characters and the NUL
    programFiles_.Set(REG_SZ, longest);
    ScriptedResponder responder;
    ASSERT_TRUE(LoadSystemFolders());
    EXPECT_EQ(::Setup.ProgramFilesDir, longest);
}

TEST(ReadRegistryString, MissingOptionalValueIsSilentAndTellsWhy) {
    ScriptedResponder responder;
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersion, "NoSuchValueHere", false), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST(ReadRegistryString, MissingKeyIsReported) {
    ScriptedResponder responder;
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "Software\\No Such Key", "x", false), nullptr);
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text.rfind("Cannot open registry key \"Software\\No Such Key\" (0/2 - ", 0), 0u);
}

TEST(RegistryKey, ClosingTwiceIsHarmless) {
    RegistryKey key = {nullptr};
    ASSERT_TRUE(OpenRegistryKey(&key, HKEY_LOCAL_MACHINE, CurrentVersion));
    EXPECT_NE(key.Handle, nullptr);
    CloseRegistryKey(&key);
    EXPECT_EQ(key.Handle, nullptr);
    CloseRegistryKey(&key);
}

namespace {

bool KeyExists(HKEY root, const char* path) {
    HKEY handle;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void MakeKey(HKEY root, const char* path) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyA(root, path, &handle), ERROR_SUCCESS);
    RegCloseKey(handle);
}

}  // namespace

TEST(DeleteRegistryKey, RootPrefixIsComparedIgnoringCase) {
    MakeKey(HKEY_LOCAL_MACHINE, "Software\\SetupTestProduct");
    MakeKey(HKEY_CURRENT_USER, "Software\\SetupTestProduct");
    ScriptedResponder responder;
    EXPECT_TRUE(DeleteRegistryKey("hklm\\Software\\SetupTestProduct"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\SetupTestProduct"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\SetupTestProduct"));
    EXPECT_TRUE(DeleteRegistryKey("HkCu\\Software\\SetupTestProduct"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\SetupTestProduct"));
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST(DeleteRegistryKey, UnknownRootTouchesNothing) {
    MakeKey(HKEY_CLASSES_ROOT, "SetupTestProduct");
    ScriptedResponder responder;
    EXPECT_FALSE(DeleteRegistryKey("HKCR\\SetupTestProduct"));
    EXPECT_FALSE(DeleteRegistryKey("HKL"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "SetupTestProduct"));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetupTestProduct");
    ASSERT_EQ(responder.Boxes().size(), 2u);
    EXPECT_EQ(responder.Boxes()[0].Text.rfind("Cannot delete key HKCR\\SetupTestProduct (0/2 - ", 0), 0u)
        << responder.Boxes()[0].Text;
    EXPECT_EQ(responder.Boxes()[1].Text.rfind("Cannot delete key HKL (0/2 - ", 0), 0u);
}

TEST(DeleteRegistryKey, KeyWithSubkeysIsNotDeletedRecursively) {
    MakeKey(HKEY_CURRENT_USER, "Software\\SetupTestProduct\\Child");
    ScriptedResponder responder;
    EXPECT_FALSE(DeleteRegistryKey("HKCU\\Software\\SetupTestProduct"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\SetupTestProduct\\Child"));
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text.rfind("Cannot delete key HKCU\\Software\\SetupTestProduct (0/5 - ", 0), 0u);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SetupTestProduct\\Child");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SetupTestProduct");
}
