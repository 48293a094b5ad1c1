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
        existed_ = RegGetValueA(root, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_, &size_) == ERROR_SUCCESS;
    }
    ~SavedValue() { Write(existed_, type_, data_, size_); }
    std::string Text() const { return existed_ ? std::string(reinterpret_cast<const char*>(data_)) : ""; }

    void Set(DWORD type, const std::string& text) const {
        Write(true, type, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    }
    void Remove() const { Write(false, REG_NONE, nullptr, 0); }

private:
    void Write(bool present, DWORD type, const BYTE* data, DWORD size) const {
        HKEY handle;
        ASSERT_EQ(RegOpenKeyExA(root_, key_, 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS) << key_;
        if (present)
            RegSetValueExA(handle, name_, 0, type, data, size);
        else
            RegDeleteValueA(handle, name_);
        RegCloseKey(handle);
    }

    HKEY root_;
    const char* key_;
    const char* name_;
    bool existed_;
    DWORD type_ = 0;
    BYTE data_[1024];
    DWORD size_ = sizeof data_;
};

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

// The Windows directory from the system, the program folders and
// ProgramFilesDir from the registry; a missing "Common Programs" falls back
// to a copy of "Programs" silently; a missing "Programs", a value that is
// not a plain string and one longer than a path are reported.
TEST(SystemFolders, AreReadFromTheSystemAndTheRegistry) {
    enum Changed { Nothing, Programs, CommonPrograms, ProgramFiles };
    const std::string longest = "C:\\" + std::string(256, 'y');  // 259 characters and the NUL
    const struct {
        Changed Value;
        DWORD Type;  // REG_NONE: the value is removed
        std::string Text;
        const char* Refusal;  // the start of the one box; null: loaded silently
    } cases[] = {
        {Nothing, REG_NONE, "", nullptr},
        {CommonPrograms, REG_NONE, "", nullptr},
        {ProgramFiles, REG_SZ, longest, nullptr},
        {Programs, REG_NONE, "", "Cannot query registry value \"Programs\" (0/2 - "},
        {ProgramFiles, REG_EXPAND_SZ, "%SystemDrive%\\Program Files",
         "Registry value \"ProgramFilesDir\" hasn't string type"},
        {ProgramFiles, REG_SZ, "C:\\" + std::string(300, 'x'), "Cannot query registry value \"ProgramFilesDir\" (0/234 - "},
    };
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Value) + " set to [" + c.Text + "]");
        ::Setup = SetupState();
        SavedValue programs{HKEY_CURRENT_USER, ShellFolders, "Programs"};
        SavedValue commonPrograms{HKEY_LOCAL_MACHINE, ShellFolders, "Common Programs"};
        SavedValue programFiles{HKEY_LOCAL_MACHINE, CurrentVersion, "ProgramFilesDir"};
        ASSERT_NE(programs.Text(), commonPrograms.Text());
        const SavedValue* changed[] = {nullptr, &programs, &commonPrograms, &programFiles};
        if (c.Value != Nothing && c.Type == REG_NONE)
            changed[c.Value]->Remove();
        else if (c.Value != Nothing)
            changed[c.Value]->Set(c.Type, c.Text);
        ScriptedResponder responder;
        EXPECT_EQ(LoadSystemFolders(), !c.Refusal);
        if (c.Refusal) {
            ASSERT_EQ(responder.Boxes().size(), 1u);
            EXPECT_EQ(responder.Boxes()[0].Text.rfind(c.Refusal, 0), 0u) << responder.Boxes()[0].Text;
            EXPECT_EQ(responder.Boxes()[0].Type, (UINT)MB_ICONERROR);
            continue;
        }
        EXPECT_TRUE(responder.Boxes().empty());
        EXPECT_STREQ(::Setup.WindowsDir, windows);
        EXPECT_EQ(::Setup.LocalProgramsFolder, programs.Text());
        EXPECT_EQ(::Setup.CommonProgramsFolder, c.Value == CommonPrograms ? programs.Text() : commonPrograms.Text());
        EXPECT_NE(::Setup.CommonProgramsFolder, ::Setup.LocalProgramsFolder) << "a copy, not the same string";
        EXPECT_EQ(::Setup.ProgramFilesDir, c.Value == ProgramFiles ? c.Text : programFiles.Text());
    }
}

// A missing optional value is silent and leaves the reason as the last
// error; a missing key is reported.
TEST(ReadRegistryString, MissingValueOrKey) {
    ScriptedResponder responder;
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersion, "NoSuchValueHere", false), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(responder.Boxes().empty());
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


// The root prefix is compared ignoring case, an unknown root touches
// nothing, and a key with subkeys is not deleted recursively.
TEST(DeleteRegistryKey, DeletesOneKeyUnderAKnownRoot) {
    const char Product[] = "Software\\SetupTestProduct";
    MakeKey(HKEY_CURRENT_USER, Product);
    const struct {
        HKEY Root;  // the key made before the case: gone when deleted, else kept
        const char* Key;
        const char* Text;
        const char* Refusal;  // the start of the one box; null: deleted silently
    } cases[] = {
        {HKEY_LOCAL_MACHINE, Product, "hklm\\Software\\SetupTestProduct", nullptr},
        {HKEY_CURRENT_USER, Product, "HkCu\\Software\\SetupTestProduct", nullptr},
        {HKEY_CLASSES_ROOT, "SetupTestProduct", "HKCR\\SetupTestProduct",
         "Cannot delete key HKCR\\SetupTestProduct (0/2 - "},
        {HKEY_CLASSES_ROOT, "SetupTestProduct", "HKL", "Cannot delete key HKL (0/2 - "},
        {HKEY_CURRENT_USER, "Software\\SetupTestProduct\\Child", "HKCU\\Software\\SetupTestProduct",
         "Cannot delete key HKCU\\Software\\SetupTestProduct (0/5 - "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        MakeKey(c.Root, c.Key);
        ScriptedResponder responder;
        EXPECT_EQ(DeleteRegistryKey(c.Text), !c.Refusal);
        EXPECT_EQ(KeyExists(c.Root, c.Key), c.Refusal != nullptr);
        ASSERT_EQ(responder.Boxes().size(), c.Refusal ? 1u : 0u);
        if (c.Refusal) {
            EXPECT_EQ(responder.Boxes()[0].Text.rfind(c.Refusal, 0), 0u) << responder.Boxes()[0].Text;
        }
        if (c.Root == HKEY_LOCAL_MACHINE) {
            EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Product)) << "the other root is untouched";
        }
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetupTestProduct");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SetupTestProduct\\Child");
    RegDeleteKeyA(HKEY_CURRENT_USER, Product);
}
