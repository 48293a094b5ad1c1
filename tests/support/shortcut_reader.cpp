#include "support/shortcut_reader.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

const CLSID ShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

}  // namespace

bool operator==(const ShortcutFields& a, const ShortcutFields& b) {
    return a.Target == b.Target && a.Arguments == b.Arguments && a.WorkingDirectory == b.WorkingDirectory &&
           a.Description == b.Description;
}

std::ostream& operator<<(std::ostream& out, const ShortcutFields& fields) {
    return out << "{target \"" << fields.Target << "\", arguments \"" << fields.Arguments << "\", working directory \""
               << fields.WorkingDirectory << "\", description \"" << fields.Description << "\"}";
}

std::optional<ShortcutFields> ReadShortcutWithShell(const std::string& path) {
    bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    std::optional<ShortcutFields> result;
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
    char text[INFOTIPSIZE];
    if (SUCCEEDED(CoCreateInstance(ShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkA),
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(widePath, STGM_READ))) {
        ShortcutFields fields;
        if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
            fields.Target = text;
        if (SUCCEEDED(link->GetArguments(text, sizeof text)))
            fields.Arguments = text;
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
            fields.WorkingDirectory = text;
        if (SUCCEEDED(link->GetDescription(text, sizeof text)))
            fields.Description = text;
        result = fields;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (comStarted)
        CoUninitialize();
    return result;
}

