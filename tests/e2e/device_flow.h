// Whole installs and uninstalls of a product with a device, run with the
// real setup.exe and worked by the robot from outside as a user would: the
// script of such a product, the answers, the boxes seen with the progress
// notice that stood behind each, and the state of the system that a rollback
// must leave as it found it.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/prefix.h"

namespace device_flow {

const char AppName[] = "Device Product";
const char DeviceName[] = "E2E Sound Device";
const char DriverFile[] = "e2esnd.drv";
const char GroupName[] = "Device Product Test";

// A box as the user saw it.
struct SeenBox {
    std::string Title;
    std::string Text;
    UINT Icon;             // MB_ICONERROR, MB_ICONWARNING, ...
    std::string Progress;  // the progress notice's text at that moment; "" when none was up
};

// What a run showed and how it ended.
struct Outcome {
    std::optional<DWORD> ExitCode;
    std::vector<SeenBox> Boxes;
    std::vector<std::string> Texts() const;
};

// Called for each box before it is answered, while the program waits on it.
typedef std::function<void(const SeenBox&)> BoxHook;

// Runs the program and works its windows until it ends: Yes to the install
// and uninstall confirmations, Install in the directories dialog, OK to
// every other box (No to any other question). With `finalText`, also waits
// for the box with that text from any process it started (the second
// uninstall stage), and for all of them to end.
Outcome Run(const std::string& program, const std::string& arguments, const std::string& currentDir,
            const std::string& finalText = "", const BoxHook& hook = nullptr);

// The setup.ini of the product: required keys, the installation directory
// `installDir`, the program group in the Start menu of the OS family, and
// the device keys that are not empty.
struct Script {
    std::string InstallDir;
    std::string DeviceName;
    std::string DeviceInfFile;
    std::string FlushCommand;
    std::string Text() const;
};

// An INF file whose [Installable.Drivers] line names the driver file, the
// types "wave,mixer" and the device.
std::string InfText(const std::string& driverFile, const std::string& deviceName);

// The Start menu folders that the install may use: "Common Programs" (NT)
// and "Programs" (Windows 9x) of the Shell Folders.
std::string CommonProgramsFolder();
std::string LocalProgramsFolder();

// system.ini and control.ini of the Windows directory, the installation
// directory's parent and a Start menu folder, as they are now.
class SystemState {
public:
    static SystemState Take(const std::string& installParent, const std::string& startMenu);
    // Success when `after` equals this; the failure lists what changed.
    ::testing::AssertionResult Same(const SystemState& after) const;

private:
    std::string systemIni_;
    std::string controlIni_;
    fixture::TreeSnapshot installParent_;
    fixture::TreeSnapshot startMenu_;
};

// The lines of install.log in `installDir`, without their line ends.
std::vector<std::string> LogLines(const std::string& installDir);

}  // namespace device_flow
