// An installation of the real setup.exe whose copy stage fails after
// data.bin was copied, while the test holds that copy open without delete
// sharing: the rollback's deletion of it fails with a sharing violation.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "install_driver.h"
#include "support/prefix.h"

namespace install_e2e {

class FileInUseRun {
public:
    // Lays out the product: data.bin, then missing.dat, which is not there.
    FileInUseRun();
    ~FileInUseRun();
    FileInUseRun(const FileInUseRun&) = delete;
    FileInUseRun& operator=(const FileInUseRun&) = delete;

    // Installs up to the error about missing.dat, then opens the copied
    // data.bin and presses OK: the rollback starts and comes to data.bin.
    bool FailWhileHoldingTheCopy();
    // No to the retry question: the file is queued, the rollback goes on and
    // cannot remove the installation directory, which still holds the file.
    bool DeclineRetry();
    // Closes the test's handle of data.bin.
    void Release();

    SetupRun& Setup() { return setup_; }
    const std::string& HeldPath() const { return heldPath_; }

    // The installation directory's parent and the Start-menu folder are as
    // before the run.
    ::testing::AssertionResult MachineAsBefore() const;
    // They are, but for the installation directory holding data.bin.
    ::testing::AssertionResult OnlyTheHeldFileStays() const;

private:
    Workspace space_;
    Product product_;
    std::string installDir_;
    std::string heldPath_;
    fixture::TreeSnapshot programsBefore_;
    fixture::TreeSnapshot menuBefore_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    SetupRun setup_;
};

}  // namespace install_e2e
