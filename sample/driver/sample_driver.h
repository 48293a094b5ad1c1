// The sample installable driver (sampledrv.dll, built with the tests): a DLL
// exporting DriverProc, for tests of the driver lists and of whole installs,
// and for the sample product.
//
// Use: copy sampledrv.dll into the system directory (GetSystemDirectoryA)
// under the driver file name the INF file names (mydev.drv, ...), and delete
// it again afterwards. Each copy is controlled by its own file name.
//
// Control, all optional, in the registry of the current user:
//
//   HKEY_CURRENT_USER\Software\SetupTests\SampleDriver\<driver file name>
//     InstallAnswer  REG_DWORD  the answer to DRV_INSTALL (default 1, DRVCNF_OK)
//     RemoveAnswer   REG_DWORD  the answer to DRV_REMOVE  (default 1, DRVCNF_OK)
//     RecordFile     REG_SZ     full path of the record file (default: none kept)
//
// The key is read at each message, so a test may change it while the driver
// is loaded. The driver file name is the last part of the path the driver was
// loaded from; registry key names ignore case.
//
// Record file: for each message the driver receives, one line is appended,
// ended by CR LF: the message's name (DRV_LOAD, DRV_ENABLE, DRV_OPEN,
// DRV_INSTALL, DRV_REMOVE, DRV_CLOSE, DRV_DISABLE, DRV_FREE, DRV_CONFIGURE,
// DRV_QUERYCONFIGURE, DRV_POWER, DRV_EXITSESSION) or, for any other message,
// "0x" and its number in four upper-case hex digits. The file is created when
// missing, and shared for reading and writing, so a test may read it while
// the driver is loaded.
//
// Answers: DRV_INSTALL and DRV_REMOVE as controlled; DRV_LOAD, DRV_ENABLE,
// DRV_DISABLE, DRV_FREE, DRV_CLOSE, DRV_POWER, DRV_EXITSESSION and
// DRV_CONFIGURE 1; DRV_OPEN 1 (its instance id); DRV_QUERYCONFIGURE 0 (no
// configuration dialog); anything else DefDriverProc.
#pragma once

#define SAMPLE_DRIVER_KEY "Software\\SetupTests\\SampleDriver"
#define SAMPLE_DRIVER_INSTALL_ANSWER "InstallAnswer"
#define SAMPLE_DRIVER_REMOVE_ANSWER "RemoveAnswer"
#define SAMPLE_DRIVER_RECORD_FILE "RecordFile"
#define SAMPLE_DRIVER_DLL "sampledrv.dll"
