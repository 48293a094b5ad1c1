#include "files_in_use.h"

namespace install_e2e {

namespace {

const char HeldContents[] = "data held open by the test\r\n";

}  // namespace

FileInUseRun::FileInUseRun() : product_(space_.SampleProduct()) {
    product_.Files = {
        {"data.bin", "%InstallDir%", "", HeldContents, false},
        {"missing.dat", "%InstallDir%", "", "", true},
    };
    installDir_ = space_.Programs() + "\\E2E Product";
    heldPath_ = installDir_ + "\\data.bin";
    if (!space_.LayOut(product_))
        ADD_FAILURE() << "cannot lay out the product in " << space_.Dist();
    programsBefore_ = fixture::TreeSnapshot::Take(space_.Programs());
    menuBefore_ = fixture::TreeSnapshot::Take(space_.Menu());
}

FileInUseRun::~FileInUseRun() {
    Release();
}

bool FileInUseRun::FailWhileHoldingTheCopy() {
    if (!setup_.Start(space_.SetupExe(), space_.Root()) ||
        !setup_.ReachInstallation(product_, installDir_, installDir_, "E2E Product"))
        return false;
    HWND copyError = setup_.WaitForBox(ErrorBox(
        "Cannot copy " + space_.Dist() + "\\missing.dat to " + installDir_ + "\\missing.dat", ERROR_FILE_NOT_FOUND));
    if (!copyError)
        return false;
    held_ = CreateFileA(heldPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held_ == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << heldPath_ << ": error " << GetLastError();
        return false;
    }
    return setup_.Press(copyError, IDOK);
}

bool FileInUseRun::DeclineRetry() {
    return setup_.Answer(FileInUseQuestion(heldPath_), IDNO) &&
           setup_.Answer(ErrorBox("Cannot delete directory " + installDir_, ERROR_DIR_NOT_EMPTY), IDOK);
}

void FileInUseRun::Release() {
    if (held_ != INVALID_HANDLE_VALUE)
        CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
}

::testing::AssertionResult FileInUseRun::MachineAsBefore() const {
    std::string changes = fixture::DescribeChanges(programsBefore_, fixture::TreeSnapshot::Take(space_.Programs())) +
                          fixture::DescribeChanges(menuBefore_, fixture::TreeSnapshot::Take(space_.Menu()));
    if (changes.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "changed:\n" << changes;
}

::testing::AssertionResult FileInUseRun::OnlyTheHeldFileStays() const {
    std::string expected = "added folder E2E Product\nadded file E2E Product\\data.bin (" +
                           std::to_string(sizeof HeldContents - 1) + " bytes)\n";
    std::string changes = fixture::DescribeChanges(programsBefore_, fixture::TreeSnapshot::Take(space_.Programs())) +
                          fixture::DescribeChanges(menuBefore_, fixture::TreeSnapshot::Take(space_.Menu()));
    if (changes == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "changed:\n" << changes << "expected:\n" << expected;
}

}  // namespace install_e2e
