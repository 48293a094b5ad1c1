// The sample driver (tests/driver/sample_driver.h) in the test prefix: a copy
// in the system directory under the name a test needs, its control key, its
// record; and guards that put back the profile files of the Windows
// directory (system.ini, control.ini) that the driver lists live in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sample_driver {

// The system directory of the test program (GetSystemDirectoryA).
std::string SystemDir();

// A copy of sampledrv.dll (from beside the test program) in the system
// directory as `fileName`, recording its messages into `recordFile` (none
// when empty). The copy, the record file and the control key go when the
// object goes.
class InstalledDriver {
public:
    InstalledDriver(const std::string& fileName, const std::string& recordFile);
    ~InstalledDriver();
    InstalledDriver(const InstalledDriver&) = delete;
    InstalledDriver& operator=(const InstalledDriver&) = delete;

    // False (with a failure added) when the copy or the key could not be made.
    bool Ready() const { return ready_; }
    const std::string& Path() const { return path_; }

    void SetInstallAnswer(DWORD answer);
    void SetRemoveAnswer(DWORD answer);
    // The messages recorded so far, one name each ("DRV_INSTALL", ...).
    std::vector<std::string> Messages() const;
    // How often `message` was recorded.
    int CountOf(const std::string& message) const;

private:
    std::string fileName_;
    std::string path_;
    std::string recordFile_;
    bool ready_ = false;
};

}  // namespace sample_driver

namespace profile_files {

// The file of that name in the Windows directory.
std::string WindowsFile(const std::string& name);

// Saves profile files of the Windows directory ("system.ini", ...) and puts
// them back as they were when it goes: the same bytes, or no file where
// there was none.
class Guard {
public:
    explicit Guard(std::vector<std::string> names);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    struct Saved {
        std::string Path;
        bool Existed;
        std::string Contents;
    };
    std::vector<Saved> saved_;
};

// The entries of a section as "key=value" lines, in file order.
std::vector<std::string> SectionLines(const std::string& fileName, const std::string& section);
// Replaces the whole section with these "key=value" lines (none: the
// section is emptied).
bool SetSection(const std::string& fileName, const std::string& section, const std::vector<std::string>& lines);

}  // namespace profile_files
