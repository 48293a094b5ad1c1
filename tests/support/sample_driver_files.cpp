#include "support/sample_driver_files.h"

#include <gtest/gtest.h>

#include <sstream>

#include "driver/sample_driver.h"
#include "support/prefix.h"

namespace sample_driver {

namespace {

std::string ControlKeyName(const std::string& fileName) {
    return std::string(SAMPLE_DRIVER_KEY) + "\\" + fileName;
}

void SetControlValue(const std::string& fileName, const char* name, DWORD type, const BYTE* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ControlKeyName(fileName).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create the control key of " << fileName;
        return;
    }
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, data, size)) << name;
    RegCloseKey(key);
}

void SetAnswer(const std::string& fileName, const char* name, DWORD answer) {
    SetControlValue(fileName, name, REG_DWORD, reinterpret_cast<const BYTE*>(&answer), sizeof answer);
}

}  // namespace

std::string SystemDir() {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

InstalledDriver::InstalledDriver(const std::string& fileName, const std::string& recordFile)
    : fileName_(fileName), path_(fixture::JoinPath(SystemDir(), fileName)), recordFile_(recordFile) {
    std::string source = fixture::JoinPath(fixture::TestProgramDir(), SAMPLE_DRIVER_DLL);
    if (!CopyFileA(source.c_str(), path_.c_str(), FALSE)) {
        ADD_FAILURE() << "cannot copy " << source << " to " << path_ << ": error " << GetLastError();
        return;
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, ControlKeyName(fileName_).c_str());
    if (!recordFile_.empty()) {
        DeleteFileA(recordFile_.c_str());
        SetControlValue(fileName_, SAMPLE_DRIVER_RECORD_FILE, REG_SZ,
                        reinterpret_cast<const BYTE*>(recordFile_.c_str()),
                        static_cast<DWORD>(recordFile_.size() + 1));
    }
    ready_ = true;
}

InstalledDriver::~InstalledDriver() {
    EXPECT_TRUE(DeleteFileA(path_.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
        << "the driver copy " << path_ << " stays (still loaded?): error " << GetLastError();
    if (!recordFile_.empty())
        DeleteFileA(recordFile_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ControlKeyName(fileName_).c_str());
    // The parents go too once no other copy's key is left below them.
    std::string parent = SAMPLE_DRIVER_KEY;
    RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, parent.substr(0, parent.rfind('\\')).c_str());
}

void InstalledDriver::SetInstallAnswer(DWORD answer) {
    SetAnswer(fileName_, SAMPLE_DRIVER_INSTALL_ANSWER, answer);
}

void InstalledDriver::SetRemoveAnswer(DWORD answer) {
    SetAnswer(fileName_, SAMPLE_DRIVER_REMOVE_ANSWER, answer);
}

std::vector<std::string> InstalledDriver::Messages() const {
    std::vector<std::string> messages;
    std::istringstream lines(fixture::ReadTextFile(recordFile_));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        messages.push_back(line);
    }
    return messages;
}

int InstalledDriver::CountOf(const std::string& message) const {
    int count = 0;
    for (const std::string& each : Messages())
        count += each == message;
    return count;
}

}  // namespace sample_driver

namespace profile_files {

namespace {

// Makes the profile functions forget what they hold of the file, so that
// they see what is on disk.
void Flush(const std::string& name) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, name.c_str());
}

}  // namespace

std::string WindowsFile(const std::string& name) {
    char dir[MAX_PATH];
    UINT length = GetWindowsDirectoryA(dir, sizeof dir);
    return fixture::JoinPath(std::string(dir, length < sizeof dir ? length : 0), name);
}

Guard::Guard(std::vector<std::string> names) {
    for (const std::string& name : names) {
        Flush(name);
        Saved saved;
        saved.Path = WindowsFile(name);
        saved.Existed = GetFileAttributesA(saved.Path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (saved.Existed)
            saved.Contents = fixture::ReadTextFile(saved.Path);
        saved_.push_back(saved);
    }
}

Guard::~Guard() {
    for (const Saved& saved : saved_) {
        std::string name = saved.Path.substr(saved.Path.rfind('\\') + 1);
        Flush(name);
        if (saved.Existed)
            EXPECT_TRUE(fixture::WriteTextFile(saved.Path, saved.Contents)) << saved.Path;
        else
            EXPECT_TRUE(DeleteFileA(saved.Path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) << saved.Path;
        Flush(name);
    }
}

std::vector<std::string> SectionLines(const std::string& fileName, const std::string& section) {
    std::vector<char> text(65536, '\0');
    DWORD length = GetPrivateProfileSectionA(section.c_str(), text.data(), static_cast<DWORD>(text.size()),
                                             fileName.c_str());
    std::vector<std::string> lines;
    for (DWORD at = 0; at < length;) {
        std::string line(text.data() + at);
        lines.push_back(line);
        at += static_cast<DWORD>(line.size()) + 1;
    }
    return lines;
}

bool SetSection(const std::string& fileName, const std::string& section, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + '\0';
    text += '\0';
    // An empty list still needs the double NUL; WritePrivateProfileSectionA
    // with it leaves the section header with no entries.
    return WritePrivateProfileSectionA(section.c_str(), text.c_str(), fileName.c_str()) != FALSE;
}

}  // namespace profile_files
