#include "install_driver.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <sstream>

#include "support/robot.h"

namespace install_e2e {

namespace {

const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// lnkinfo normally answers in a few milliseconds.
const DWORD LnkinfoTimeoutMs = 20000;
const char LnkinfoProgram[] = "/usr/bin/lnkinfo";
const char Shell[] = "/bin/sh";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

std::string ErrorTextStart(DWORD code) {
    std::ostringstream text;
    text << " (" << ((code >> 16) & 0x1FFF) << "/" << (code & 0xFFFF) << " - ";
    return text.str();
}

std::string ScriptText(const Product& product) {
    std::string text = "[Main]\r\nAppName=" + product.AppName + "\r\nAppVersion=" + product.AppVersion +
                       "\r\nDefaultProgramGroup=" + product.DefaultProgramGroup +
                       "\r\nDefaultInstallDir=" + product.DefaultInstallDir + "\r\n";
    if (!product.License.empty())
        text += "LicenseFile=license.txt\r\n";
    text += "\r\n[Main.NT]\r\nStartMenuFolder=" + product.StartMenuFolderNt + "\r\n";
    text += "\r\n[Main.9x]\r\nStartMenuFolder=" + product.StartMenuFolder9x + "\r\n";
    text += "\r\n[Files]\r\n";
    for (const ProductFile& file : product.Files) {
        text += file.Name + "=" + file.Destination;
        if (!file.SourceDir.empty())
            text += ", " + file.SourceDir;
        text += "\r\n";
    }
    text += "\r\n[Links]\r\n";
    for (const ProductLink& link : product.Links) {
        text += link.Name + "=" + link.Target;
        if (!link.Arguments.empty())
            text += ", " + link.Arguments;
        text += "\r\n";
    }
    return text;
}

std::string Describe(const ExpectedBox& box) {
    return "box \"" + box.Title + "\" saying \"" + box.Text + (box.ErrorCode ? "...\"" : "\"");
}

// Checks the box's class, owner, text, icon, buttons and default button.
void CheckBox(HWND box, const ExpectedBox& expected) {
    SCOPED_TRACE(Describe(expected));
    EXPECT_EQ(robot::WindowClass(box), "#32770");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the box has an owner";
    std::string text = robot::MessageBoxText(box);
    if (expected.ErrorCode) {
        std::string start = expected.Text + ErrorTextStart(*expected.ErrorCode);
        EXPECT_TRUE(StartsWith(text, start) && text.size() > start.size() && text.back() == ')')
            << "text: " << text << "\nexpected: " << start << "...)";
    } else {
        EXPECT_EQ(text, expected.Text);
    }
    EXPECT_EQ(robot::MessageBoxIconKind(box), expected.Icon);
    EXPECT_EQ(robot::ButtonIds(box), expected.Buttons);
    if (expected.DefaultButton) {
        for (int id : expected.Buttons) {
            bool isDefault = (robot::ControlStyle(box, id) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            EXPECT_EQ(isDefault, id == expected.DefaultButton) << "button " << id;
        }
    }
}

// One "Label<tabs>: value" line of lnkinfo per field; the first of a label counts.
std::map<std::string, std::string> ParseLnkinfo(const std::string& output) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(": ");
        if (colon == std::string::npos && line.size() >= 2 && line.compare(line.size() - 2, 2, "\t:") == 0)
            colon = line.size() - 1;  // a label with an empty value
        if (colon == std::string::npos)
            continue;
        std::string label = line.substr(0, colon);
        size_t first = label.find_first_not_of(" \t");
        size_t last = label.find_last_not_of(" \t");
        if (first == std::string::npos)
            continue;
        label = label.substr(first, last - first + 1);
        std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
        fields.emplace(label, value);
    }
    return fields;
}

// Wine's own path conversions, which only a program under Wine has.
std::string UnixPathOf(const std::string& windowsPath) {
    typedef char*(CDECL * UnixFileName)(const WCHAR*);
    UnixFileName convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (!convert || !MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH))
        return std::string();
    char* unixPath = convert(wide);
    if (!unixPath)
        return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::string DosPathOf(const std::string& unixPath) {
    typedef WCHAR*(CDECL * DosFileName)(const char*);
    DosFileName convert = reinterpret_cast<DosFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR* dosPath = convert ? convert(unixPath.c_str()) : nullptr;
    if (!dosPath)
        return std::string();
    char narrow[MAX_PATH];
    int length = WideCharToMultiByte(CP_ACP, 0, dosPath, -1, narrow, sizeof narrow, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, dosPath);
    return length > 0 ? std::string(narrow) : std::string();
}

// Runs `script` with the Linux shell. A Linux process started from here
// runs natively, and its handle need not tell when it ends: the script says
// so by renaming its output file when it is complete.
std::optional<std::string> RunLinuxScript(const std::string& scratchDir, const std::string& name,
                                          const std::string& body) {
    std::string scriptPath = fixture::JoinPath(scratchDir, name + ".sh");
    std::string outputPath = fixture::JoinPath(scratchDir, name + ".out");
    std::string unixOutput = UnixPathOf(outputPath);
    std::string unixScript = UnixPathOf(scriptPath);
    std::string shell = DosPathOf(Shell);
    if (unixOutput.empty() || unixScript.empty() || shell.empty()) {
        ADD_FAILURE() << "no Wine path conversion for " << scratchDir;
        return std::nullopt;
    }
    std::string script = "PATH=/usr/bin:/bin\nexport PATH\n{\n" + body + "\n} >'" + unixOutput + ".part' 2>&1\n" +
                         "mv '" + unixOutput + ".part' '" + unixOutput + "'\n";
    if (!fixture::WriteTextFile(scriptPath, script)) {
        ADD_FAILURE() << "cannot write " << scriptPath;
        return std::nullopt;
    }
    std::string commandLine = "sh \"" + unixScript + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(shell.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start " << shell << ": error " << GetLastError();
        return std::nullopt;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DWORD start = GetTickCount();
    while (!FileExists(outputPath)) {
        if (GetTickCount() - start >= LnkinfoTimeoutMs) {
            ADD_FAILURE() << "the Linux script " << scriptPath << " gave no output within " << LnkinfoTimeoutMs
                          << " ms";
            return std::nullopt;
        }
        Sleep(20);
    }
    return fixture::ReadTextFile(outputPath);
}

}  // namespace

Workspace::Workspace() {
    for (const std::string& folder : {Dist(), Extra(), Programs(), Menu()}) {
        if (!CreateDirectoryA(folder.c_str(), nullptr))
            ADD_FAILURE() << "cannot make " << folder;
    }
}

Product Workspace::SampleProduct() const {
    Product product;
    product.AppName = "E2E Product";
    product.AppVersion = "2.5";
    product.DefaultInstallDir = Programs() + "\\%AppName%";
    product.DefaultProgramGroup = "%AppName%";
    product.StartMenuFolderNt = Menu();
    product.StartMenuFolder9x = Menu();
    product.License =
        "E2E Product licence agreement\r\n"
        "\r\n"
        "1. \"Quoted\" terms, 100% as written: %AppName% stays.\r\n"
        "\tAn indented line; symbols <>&|!\r\n"
        "2. The last line.\r\n";
    product.Files = {
        {"app.exe", "%InstallDir%", "", "MZ pretend program\r\n", false},
        {"readme.txt", "%InstallDir%", "", "Read me first.\r\n", false},
        {"notes.txt", "%InstallDir%", Extra(), "Notes from the second source folder.\r\n", false},
    };
    // The name of the first link holds a variable: its file name is
    // expanded, its description is not.
    product.Links = {
        {"%AppName%", "%InstallDir%\\app.exe", "-start --verbose"},
        {"Read Me", "%InstallDir%\\readme.txt", ""},
    };
    return product;
}

bool Workspace::LayOut(const Product& product) const {
    bool written = fixture::WriteTextFile(fixture::JoinPath(Dist(), "setup.ini"), ScriptText(product)) &&
                   (product.License.empty() ||
                    fixture::WriteTextFile(fixture::JoinPath(Dist(), "license.txt"), product.License)) &&
                   CopyFileA(fixture::SetupExePath().c_str(), SetupExe().c_str(), TRUE);
    for (const ProductFile& file : product.Files) {
        if (!file.Missing) {
            std::string source = fixture::JoinPath(file.SourceDir.empty() ? Dist() : file.SourceDir, file.Name);
            written = written && fixture::WriteTextFile(source, file.Contents);
        }
    }
    return written;
}

std::string Expand(const std::string& text, const std::string& installDir, const std::string& appName) {
    return ReplaceAll(ReplaceAll(text, "%InstallDir%", installDir), "%AppName%", appName);
}

std::string ExpectedInstallLog(const Product& product, const std::string& installDir, const std::string& groupDir) {
    std::string log =
        ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n"
        "\r\n";
    log += "AppName " + product.AppName + "\r\n";
    log += "CreateDir " + installDir + "\r\n";
    log += "CreateFile " + installDir + "\\install.log\r\n";
    log += "CreateDir " + groupDir + "\r\n";
    for (const std::string& name : ExpectedShortcutNames(product))
        log += "CreateFile " + groupDir + "\\" + name + "\r\n";
    for (const ProductFile& file : product.Files)
        log += "CreateFile " + Expand(file.Destination, installDir, product.AppName) + "\\" + file.Name + "\r\n";
    log += "CreateFile " + installDir + "\\setup.exe\r\n";
    return log;
}

std::vector<std::string> ExpectedShortcutNames(const Product& product) {
    std::vector<std::string> names;
    for (const ProductLink& link : product.Links)
        names.push_back(Expand(link.Name, "", product.AppName) + ".lnk");
    names.push_back("Uninstall " + product.AppName + ".lnk");
    return names;
}

ExpectedBox ErrorBox(const std::string& message, DWORD code) {
    return {"Setup", message, MB_ICONERROR, {IDOK}, 0, code};
}

ExpectedBox InstallQuestion(const Product& product) {
    return {
        "Setup",
        product.AppName + " " + product.AppVersion + " will be installed on your computer.\nDo you want to continue?",
        MB_ICONINFORMATION,
        {IDYES, IDNO},
        IDNO,
        std::nullopt};
}

ExpectedBox ReuseQuestion(const std::string& directory) {
    return {"Setup",        "Directory \"" + directory + "\" already exists.\nDo you want to overwrite it?",
            MB_ICONWARNING, {IDYES, IDNO},
            IDNO,           std::nullopt};
}

ExpectedBox FileInUseQuestion(const std::string& path) {
    return {"Setup",
            "The file \"" + path +
                "\" being deleted is currently in use. If there are active applications, they may use this file "
                "and prevent it to be deleted. You can close some applications and retry delete operation.\n\n"
                "If all product files will be successfully deleted, no restart is required. Otherwise, Windows "
                "must be restarted to complete uninstalling.\n\nRetry delete operation?",
            MB_ICONERROR,
            {IDYES, IDNO},
            IDYES,
            std::nullopt};
}

ExpectedBox RestartQuestion() {
    return {"Setup",
            "Uninstaller cannot delete some files because they are in use.\n"
            "To properly delete them, Windows must be restarted. If you choose\n"
            "to restart later, you must not try to install this product until\n"
            "the files will be deleted.\n\nRestart Windows now?",
            MB_ICONWARNING,
            {IDYES, IDNO},
            IDYES,
            std::nullopt};
}

std::optional<ShortcutFields> ReadShortcutWithLnkinfo(const std::string& path, const std::string& scratchDir) {
    std::string unixPath = UnixPathOf(path);
    if (unixPath.empty() || unixPath.find('\'') != std::string::npos) {
        ADD_FAILURE() << "no plain Linux path for " << path;
        return std::nullopt;
    }
    static int runs;
    std::ostringstream name;
    name << "lnkinfo-" << ++runs;
    std::optional<std::string> output = RunLinuxScript(
        scratchDir, name.str(), std::string(LnkinfoProgram) + " '" + unixPath + "'\necho \"lnkinfo exit code $?\"");
    if (!output)
        return std::nullopt;
    if (output->find("lnkinfo exit code 0") == std::string::npos) {
        ADD_FAILURE() << "lnkinfo failed on " << path << ":\n" << *output;
        return std::nullopt;
    }
    std::map<std::string, std::string> fields = ParseLnkinfo(*output);
    ShortcutFields result;
    result.Target = fields["Local path"];
    result.Arguments = fields["Command line arguments"];
    result.WorkingDirectory = fields["Working directory"];
    result.Description = fields["Description"];
    return result;
}

bool SetupRun::Start(const std::string& setupExe, const std::string& currentDir) {
    return process_.Start(setupExe, "", currentDir);
}

HWND SetupRun::WaitForBox(const ExpectedBox& expected) {
    HWND box = process_.WaitForWindow(expected.Title.c_str(), WindowTimeoutMs);
    if (!box) {
        ADD_FAILURE() << "expected the " << Describe(expected);
        return nullptr;
    }
    CheckBox(box, expected);
    return box;
}

bool SetupRun::Answer(const ExpectedBox& expected, int press) {
    HWND box = WaitForBox(expected);
    return box && Press(box, press);
}

bool SetupRun::AnswerWithKey(const ExpectedBox& expected, WORD key) {
    HWND box = WaitForBox(expected);
    return box && PressKey(box, key);
}

bool SetupRun::AnswerInstallQuestion(const Product& product, int press) {
    return Answer(InstallQuestion(product), press);
}

HWND SetupRun::WaitForLicense(const std::string& licenseText) {
    HWND dialog = process_.WaitForWindow("License agreement", WindowTimeoutMs);
    if (!dialog)
        return nullptr;
    EXPECT_EQ(robot::WindowClass(dialog), "#32770");
    EXPECT_EQ(robot::ControlText(dialog, 1000), licenseText);
    EXPECT_EQ(robot::ButtonIds(dialog), (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(robot::ControlStyle(dialog, IDCANCEL) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "Decline is the default";
    EXPECT_EQ(robot::ControlStyle(dialog, IDOK) & BS_TYPEMASK, BS_PUSHBUTTON) << "Accept is not the default";
    return dialog;
}

HWND SetupRun::WaitForDirectories(const std::string& offeredDir, const std::string& offeredGroup) {
    HWND dialog = process_.WaitForWindow("Choose directories", WindowTimeoutMs);
    if (!dialog)
        return nullptr;
    EXPECT_EQ(robot::ControlText(dialog, 1001), offeredDir);
    EXPECT_EQ(robot::ControlText(dialog, 1002), offeredGroup);
    return dialog;
}

bool SetupRun::TypeDirectories(HWND dialog, const std::string& installDir, const std::string& group) {
    if (robot::SetEditText(dialog, 1001, installDir.c_str()) && robot::SetEditText(dialog, 1002, group.c_str()))
        return true;
    ADD_FAILURE() << "cannot type into the directories dialog";
    return false;
}

bool SetupRun::ChooseDirectories(HWND dialog, const std::string& installDir, const std::string& group) {
    return TypeDirectories(dialog, installDir, group) && Press(dialog, IDOK);
}

bool SetupRun::ReachInstallation(const Product& product, const std::string& offeredDir, const std::string& installDir,
                                 const std::string& group) {
    if (!AnswerInstallQuestion(product, IDYES))
        return false;
    if (!product.License.empty()) {
        HWND license = WaitForLicense(product.License);
        if (!license || !Press(license, IDOK))
            return false;
    }
    HWND directories = WaitForDirectories(offeredDir, Expand(product.DefaultProgramGroup, "", product.AppName));
    return directories && ChooseDirectories(directories, installDir, group);
}

bool SetupRun::ConfirmCompletion(const Product& product) {
    return Answer({product.AppName, "Installation complete.", MB_ICONINFORMATION, {IDOK}, 0, std::nullopt}, IDOK);
}

bool SetupRun::Press(HWND window, int id) {
    if (!robot::PressButton(window, id)) {
        ADD_FAILURE() << "cannot press button " << id << " of \"" << robot::WindowTitle(window) << "\"";
        return false;
    }
    if (!robot::WaitGone(window, WindowTimeoutMs)) {
        ADD_FAILURE() << "\"" << robot::WindowTitle(window) << "\" stays after button " << id;
        return false;
    }
    return true;
}

bool SetupRun::PressKey(HWND window, WORD key) {
    if (key == VK_RETURN)
        robot::PressEnter(window);
    else
        robot::PressEscape(window);
    if (!robot::WaitGone(window, WindowTimeoutMs)) {
        ADD_FAILURE() << "\"" << robot::WindowTitle(window) << "\" stays after key " << key;
        return false;
    }
    return true;
}

std::optional<DWORD> SetupRun::ExitWithoutFurtherWindow() {
    std::vector<robot::SeenWindow> seen;
    bool ended = robot::DismissUntilExit(process_.Process(), process_.ProcessId(), ExitTimeoutMs, &seen);
    for (const robot::SeenWindow& window : seen)
        ADD_FAILURE() << "unexpected window \"" << window.Title << "\": " << window.Text;
    return process_.WaitForExit(ended ? ExitTimeoutMs : 0);
}

RemoveOnExit::~RemoveOnExit() {
    if (!fixture::RemoveTree(path_))
        ADD_FAILURE() << "cannot remove " << path_;
}

std::string ShellFolder(HKEY root, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, ShellFoldersKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    char value[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace install_e2e
