// The licence, directories and progress dialogs, worked from a second thread
// as the user would, while the test's own thread runs the dialog. The real
// setup.exe shows them in tests/e2e, which also declines them every way
// (Decline, Cancel, Enter, Escape); here is what only a unit test can reach.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "install/dialogs.h"
#include "resource.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/robot.h"

namespace {

const char LicenseTitle[] = "License agreement";
const char DirectoriesTitle[] = "Choose directories";

// A dialog left up after the user is done would hang the test: it is
// cancelled after this long, and the test fails on its result instead.
const DWORD DialogGuardMs = 15000;
const DWORD DialogWaitMs = 10000;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// What the user does at the dialog; runs on its own thread.
typedef std::function<void(HWND dialog)> UserAction;

void NoLook(HWND) {}
void Accept(HWND dialog) { robot::PressButton(dialog, IDOK); }
void Enter(HWND dialog) { robot::PressEnter(dialog); }
void CloseBox(HWND dialog) { robot::CloseWindow(dialog); }

// Dialogs of 4.0 programs draw an edit's WS_BORDER as a 3-D client edge.
bool HasBorder(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return (GetWindowLongA(control, GWL_STYLE) & WS_BORDER) ||
           (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

// A box with the title of the window that owned it, read while the box was
// up: a dialog that failed its start is gone afterwards.
struct OwnedBox {
    std::string Text;
    std::string Title;
    UINT Type;
    std::string OwnerTitle;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup = SetupState();
        ::Setup.InstanceHandle = GetModuleHandleA(nullptr);
        ::Setup.WorkDir = const_cast<char*>(scratch_.Path().c_str());
    }

    // Shows the dialog on this thread; on another one, waits for the window
    // titled `title`, lets `observe` read it and `act` work it. Returns the
    // dialog's result; `appeared` tells whether the window was found.
    bool RunDialog(bool (*show)(), const char* title, const UserAction& observe, const UserAction& act,
                   bool* appeared = nullptr) {
        std::atomic<bool> done(false);
        bool found = false;
        std::thread user([&] {
            // Looks until the window shows or the dialog is over.
            HWND dialog = nullptr;
            for (DWORD start = GetTickCount(); !dialog && !done && GetTickCount() - start < DialogWaitMs;) {
                dialog = robot::FindWindowByTitle(title, GetCurrentProcessId(), 0);
                if (!dialog)
                    Sleep(20);
            }
            found = dialog != nullptr;
            if (!dialog)
                return;
            observe(dialog);
            act(dialog);
            DWORD start = GetTickCount();
            while (!done && GetTickCount() - start < DialogGuardMs)
                Sleep(20);
            if (!done)
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        bool result = show();
        done = true;
        user.join();
        if (appeared)
            *appeared = found;
        else
            EXPECT_TRUE(found) << "no window \"" << title << "\" appeared";
        return result;
    }

    fixture::ScratchDir scratch_;
    std::vector<OwnedBox> boxes_;
    // Notes each box with its owner's title; the dialogs show only errors,
    // answered OK.
    ScriptedResponder responder_{{}, [this](const RecordedBox& box) {
        boxes_.push_back(OwnedBox{box.Text, box.Title, box.Type, box.Owner ? robot::WindowTitle(box.Owner) : ""});
    }};
};

// --- Licence agreement ------------------------------------------------------

void CheckLicenseLayout(HWND dialog) {
    const LONG frame = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(frame, GetWindowLongA(dialog, GWL_STYLE) & frame);
    EXPECT_EQ(nullptr, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ("Accept", robot::ControlText(dialog, IDOK));
    EXPECT_EQ("Decline", robot::ControlText(dialog, IDCANCEL));
    EXPECT_STRCASEEQ("Edit", robot::WindowClass(GetDlgItem(dialog, IDC_LICENSE_TEXT)).c_str());
    const LONG editBits = WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                          ES_AUTOHSCROLL | ES_READONLY;
    EXPECT_EQ(editBits, robot::ControlStyle(dialog, IDC_LICENSE_TEXT) & editBits);
    EXPECT_TRUE(HasBorder(dialog, IDC_LICENSE_TEXT));
}

// The dialog shows the file that LicenseFile names (expanded, in the
// distribution folder) as it is, an empty one too; the close box declines.
TEST_F(DialogTest, LicenseDialogShowsTheFileAndAnswers) {
    const char text[] = "SAMPLE LICENCE\r\n\r\n1. Terms:\tall of them.\r\n2. Last line without end";
    ::Setup.AppName = const_cast<char*>("Sample");
    const struct {
        const char* FileName;  // as written to disk
        const char* Setting;   // LicenseFile as the script gives it
        const char* Text;
        UserAction Act;
        bool Accepted;
    } cases[] = {
        {"licence.txt", "licence.txt", text, CloseBox, false},
        {"empty.txt", "empty.txt", "", Accept, true},
        {"Sample.txt", "%AppName%.txt", text, Accept, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Setting);
        ASSERT_TRUE(scratch_.Write(c.FileName, c.Text));
        ::Setup.LicenseFile = const_cast<char*>(c.Setting);
        std::string shown;
        bool accepted = RunDialog(ShowLicenseDialog, LicenseTitle,
                                  [&](HWND dialog) {
                                      shown = robot::ControlText(dialog, IDC_LICENSE_TEXT);
                                      CheckLicenseLayout(dialog);
                                  },
                                  c.Act);
        EXPECT_EQ(c.Text, shown);
        EXPECT_EQ(c.Accepted, accepted);
    }
    EXPECT_TRUE(boxes_.empty());
}

// A file that cannot be read ends the dialog before it shows: the reason,
// then a box owned by the dialog.
TEST_F(DialogTest, MissingLicenseFileIsReportedAndDeclines) {
    ::Setup.LicenseFile = const_cast<char*>("missing.txt");
    bool appeared = false;
    EXPECT_FALSE(RunDialog(ShowLicenseDialog, LicenseTitle, NoLook, Accept, &appeared));
    EXPECT_FALSE(appeared) << "the dialog stayed up although it could not be filled";
    ASSERT_EQ(2u, boxes_.size());
    EXPECT_TRUE(StartsWith(boxes_[0].Text, "Cannot open file missing.txt (0/2 - ")) << boxes_[0].Text;
    EXPECT_EQ("Cannot init dialog", boxes_[1].Text);
    EXPECT_EQ("Setup", boxes_[1].Title);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes_[1].Type);
    EXPECT_EQ(LicenseTitle, boxes_[1].OwnerTitle);
}

// --- Choice of directories --------------------------------------------------

class DirectoriesDialogTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ::Setup.ProgramFilesDir = const_cast<char*>("C:\\Program Files");
        ::Setup.AppName = const_cast<char*>("Sample");
        ::Setup.DefaultInstallDir = const_cast<char*>("%ProgramFilesDir%\\%AppName%");
        ::Setup.DefaultProgramGroup = const_cast<char*>("%AppName% Tools");
    }
};

// The controls in template order: edit, label, edit, label, note; the
// edits start with the expanded defaults.
void CheckDirectoriesLayout(HWND dialog) {
    EXPECT_EQ("Install", robot::ControlText(dialog, IDOK));
    EXPECT_EQ("Cancel", robot::ControlText(dialog, IDCANCEL));
    EXPECT_EQ(BS_DEFPUSHBUTTON, robot::ControlStyle(dialog, IDOK) & BS_TYPEMASK);
    EXPECT_EQ(BS_PUSHBUTTON, robot::ControlStyle(dialog, IDCANCEL) & BS_TYPEMASK);
    const LONG editBits = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
    EXPECT_EQ(editBits, robot::ControlStyle(dialog, IDC_PROGRAM_GROUP) & editBits);
    EXPECT_TRUE(HasBorder(dialog, IDC_PROGRAM_GROUP));
    EXPECT_EQ(SS_CENTER | WS_GROUP, robot::ControlStyle(dialog, IDC_IMPORTANT_NOTE) & (SS_TYPEMASK | WS_GROUP));
    const std::vector<std::string> expected = {
        "C:\\Program Files\\Sample", "Installation directory", "Sample Tools", "Program group name",
        "Important!\nMake sure you have UNINSTALLED any previous version of this product. If you forgot to "
        "uninstall it, exit the installation process by clicking Cancel, and start it againg when previous "
        "version is uninstalled."};
    EXPECT_EQ(expected, robot::ReadTexts(dialog));
}

// Install stores both texts as they stand: the defaults, a whole path of
// 259 characters, an empty group. A longer text (only a program can put one
// there) is refused, not cut; the close box stores nothing.
TEST_F(DirectoriesDialogTest, StoresTheTextsAsTheyStand) {
    const std::string longest(PathBufferSize - 1, 'd');
    const std::string tooLong(PathBufferSize, 'x');
    const struct {
        const char* Case;
        const char* Directory;  // typed; null: left as offered
        const char* Group;      // typed; null: left as offered
        UserAction Act;
        const char* StoredDirectory;  // null: nothing stored
        const char* StoredGroup;
        const char* Box;  // null: none
    } cases[] = {
        {"defaults", nullptr, nullptr, Accept, "C:\\Program Files\\Sample", "Sample Tools", nullptr},
        {"whole path, empty group", longest.c_str(), "", Enter, longest.c_str(), "", nullptr},
        {"longer than a path", tooLong.c_str(), nullptr, Accept, nullptr, nullptr,
         "The text is too long (at most 259 characters are allowed)"},
        {"close box", nullptr, nullptr, CloseBox, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        FreeBlock(::Setup.InstallDir);
        FreeBlock(::Setup.ProgramGroup);
        ::Setup.InstallDir = ::Setup.ProgramGroup = nullptr;
        boxes_.clear();
        bool installed = RunDialog(ShowDirectoriesDialog, DirectoriesTitle, CheckDirectoriesLayout, [&](HWND dialog) {
            if (c.Directory)
                robot::SetEditText(dialog, IDC_INSTALL_DIR, c.Directory);
            if (c.Group)
                robot::SetEditText(dialog, IDC_PROGRAM_GROUP, c.Group);
            c.Act(dialog);
        });
        EXPECT_EQ(c.StoredDirectory != nullptr, installed);
        EXPECT_EQ(c.StoredDirectory ? c.StoredDirectory : "(null)",
                  std::string(::Setup.InstallDir ? ::Setup.InstallDir : "(null)"));
        EXPECT_EQ(c.StoredGroup ? c.StoredGroup : "(null)",
                  std::string(::Setup.ProgramGroup ? ::Setup.ProgramGroup : "(null)"));
        ASSERT_EQ(c.Box ? 1u : 0u, boxes_.size());
        if (c.Box) {
            EXPECT_EQ(c.Box, boxes_[0].Text);
            EXPECT_EQ(DirectoriesTitle, boxes_[0].OwnerTitle);
        }
    }
}

// 255 characters is the most an expanded default may hold; a longer one
// ends the dialog before it shows.
TEST_F(DirectoriesDialogTest, DefaultsFillTheWholeBufferButNoMore) {
    const std::string fits(MessageBufferSize - 1, 'f');
    ::Setup.DefaultInstallDir = const_cast<char*>(fits.c_str());
    std::string shown;
    EXPECT_TRUE(RunDialog(ShowDirectoriesDialog, DirectoriesTitle,
                          [&](HWND dialog) { shown = robot::ControlText(dialog, IDC_INSTALL_DIR); }, Accept));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(fits, shown);

    const std::string value(MessageBufferSize - 8, 'v');
    ::Setup.ProgramFilesDir = const_cast<char*>(value.c_str());
    ::Setup.DefaultInstallDir = const_cast<char*>("%ProgramFilesDir%\\Product");
    bool appeared = false;
    EXPECT_FALSE(RunDialog(ShowDirectoriesDialog, DirectoriesTitle, NoLook, Accept, &appeared));
    EXPECT_FALSE(appeared);
    ASSERT_EQ(2u, boxes_.size());
    EXPECT_EQ("Text is too long after expansion: %ProgramFilesDir%\\Product", boxes_[0].Text);
    EXPECT_EQ("Cannot init dialog", boxes_[1].Text);
    EXPECT_EQ(DirectoriesTitle, boxes_[1].OwnerTitle);
}

TEST_F(DialogTest, DialogMissingFromTheModuleIsReported) {
    // A module without the templates.
    ::Setup.InstanceHandle = GetModuleHandleA("kernel32.dll");
    ::Setup.LicenseFile = const_cast<char*>("licence.txt");
    for (bool (*show)() : {ShowLicenseDialog, ShowDirectoriesDialog}) {
        boxes_.clear();
        EXPECT_FALSE(show());
        ASSERT_EQ(1u, boxes_.size());
        const std::string& text = boxes_[0].Text;
        EXPECT_TRUE(StartsWith(text, "Cannot create dialog (") && text.back() == ')') << text;
    }
    // The progress window is only a notice: without it the work goes on.
    boxes_.clear();
    ShowProgress("Installing Sample device driver...");
    HideProgress();
    EXPECT_TRUE(boxes_.empty());
}

// --- Progress window ----------------------------------------------------------

// The progress window belongs to this thread, which runs no modal loop while
// it is up: the robot works it from here.
TEST_F(DialogTest, ProgressWindowShowsItsTextUntilHidden) {
    ShowProgress("Installing Sample Sound device driver...");
    HWND window = robot::FindWindowByTitle("Setup", GetCurrentProcessId(), 5000);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ("Installing Sample Sound device driver...", robot::ControlText(window, IDC_PROGRESS_TEXT));
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_VISIBLE, style & (WS_POPUP | WS_CAPTION | WS_VISIBLE));
    EXPECT_EQ(0, style & WS_SYSMENU) << "the user cannot close the notice";
    EXPECT_NE(0, GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(SS_CENTER | SS_CENTERIMAGE,
              robot::ControlStyle(window, IDC_PROGRESS_TEXT) & (SS_TYPEMASK | SS_CENTERIMAGE));

    // A second notice replaces the first.
    ShowProgress("Removing Sample Sound device driver...");
    EXPECT_FALSE(IsWindow(window));
    window = robot::FindWindowByTitle("Setup", GetCurrentProcessId(), 5000);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ("Removing Sample Sound device driver...", robot::ControlText(window, IDC_PROGRESS_TEXT));

    HideProgress();
    EXPECT_FALSE(IsWindow(window));
    HideProgress();  // nothing shown: nothing happens
}

}  // namespace
