// Resource and control identifiers of setup.exe.
#pragma once

#define IDD_LICENSE 101
#define IDD_DIRECTORIES 102
#define IDI_PROGRAM 103
#define IDD_PROGRESS 104

#define IDC_LICENSE_TEXT 1000
#define IDC_INSTALL_DIR 1001
#define IDC_PROGRAM_GROUP 1002
#define IDC_IMPORTANT_NOTE 1003
#define IDC_PROGRESS_TEXT 1004
