// The licence, directories and progress dialogs, worked from a second thread
// as the user would, while the test's own thread runs the dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/setup_state.h"
#include "install/dialogs.h"
#include "resource.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/robot.h"

namespace {

const char LicenseTitle[] = "License agreement";
const char DirectoriesTitle[] = "Choose directories";
const char ImportantNote[] =
    "Important!\nMake sure you have UNINSTALLED any previous version of this product. If you forgot to "
    "uninstall it, exit the installation process by clicking Cancel, and start it againg when previous "
    "version is uninstalled.";

// A dialog left up after the user is done would hang the test: it is
// cancelled after this long, and the test fails on its result instead.
const DWORD DialogGuardMs = 15000;
const DWORD DialogWaitMs = 10000;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// What the user does at the dialog; runs on its own thread.
typedef std::function<void(HWND dialog)> UserAction;

void Accept(HWND dialog) { robot::PressButton(dialog, IDOK); }
void Decline(HWND dialog) { robot::PressButton(dialog, IDCANCEL); }
void Escape(HWND dialog) { robot::PressEscape(dialog); }
void Enter(HWND dialog) { robot::PressEnter(dialog); }
void CloseBox(HWND dialog) { robot::CloseWindow(dialog); }

// Records the top-level windows this thread creates, to tell afterwards
// which window owned a message box.
class CreatedWindows {
public:
    CreatedWindows() {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, &CreatedWindows::Watch, nullptr, GetCurrentThreadId());
    }
    ~CreatedWindows() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    CreatedWindows(const CreatedWindows&) = delete;
    CreatedWindows& operator=(const CreatedWindows&) = delete;

    // The title the window had at its creation; empty when it was not seen.
    std::string TitleOf(HWND window) const {
        for (const auto& created : windows_) {
            if (created.first == window)
                return created.second;
        }
        return std::string();
    }

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
            if (!create->hwndParent && create->lpszName && !IS_INTRESOURCE(create->lpszName))
                current_->windows_.emplace_back(reinterpret_cast<HWND>(wParam), create->lpszName);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static CreatedWindows* current_;
    HHOOK hook_;
    std::vector<std::pair<HWND, std::string>> windows_;
};

CreatedWindows* CreatedWindows::current_;

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
};

void NoLook(HWND) {}

// Dialogs of 4.0 programs draw an edit's WS_BORDER as a 3-D client edge.
bool HasBorder(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return (GetWindowLongA(control, GWL_STYLE) & WS_BORDER) ||
           (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

// --- Licence agreement ------------------------------------------------------

struct LicenseCase {
    const char* Name;
    const char* FileName;  // as written to disk
    const char* Setting;   // LicenseFile as the script gives it
    const char* Text;
    UserAction Act;
    bool Accepted;
};

class LicenseDialogTest : public DialogTest, public ::testing::WithParamInterface<LicenseCase> {};

TEST_P(LicenseDialogTest, ShowsTheFileAndAnswers) {
    const LicenseCase& c = GetParam();
    ASSERT_TRUE(scratch_.Write(c.FileName, c.Text));
    ::Setup.AppName = const_cast<char*>("Sample");
    ::Setup.LicenseFile = const_cast<char*>(c.Setting);
    ScriptedResponder responder;
    std::string shown;
    bool accepted = RunDialog(ShowLicenseDialog, LicenseTitle,
                              [&](HWND dialog) { shown = robot::ControlText(dialog, IDC_LICENSE_TEXT); }, c.Act);
    EXPECT_EQ(shown, c.Text);
    EXPECT_EQ(accepted, c.Accepted);
    EXPECT_TRUE(responder.Boxes().empty());
}

const char LicenseText[] = "SAMPLE LICENCE\r\n\r\n1. Terms:\tall of them.\r\n2. Last line without end";

INSTANTIATE_TEST_SUITE_P(
    Answers, LicenseDialogTest,
    ::testing::Values(LicenseCase{"Accept", "licence.txt", "licence.txt", LicenseText, Accept, true},
                      LicenseCase{"Decline", "licence.txt", "licence.txt", LicenseText, Decline, false},
                      LicenseCase{"Escape", "licence.txt", "licence.txt", LicenseText, Escape, false},
                      LicenseCase{"EnterDeclines", "licence.txt", "licence.txt", LicenseText, Enter, false},
                      LicenseCase{"CloseBox", "licence.txt", "licence.txt", LicenseText, CloseBox, false},
                      LicenseCase{"EmptyFileAccept", "empty.txt", "empty.txt", "", Accept, true},
                      LicenseCase{"EmptyFileDecline", "empty.txt", "empty.txt", "", Decline, false},
                      LicenseCase{"NameWithVariable", "Sample.txt", "%AppName%.txt", LicenseText, Accept, true}),
    [](const ::testing::TestParamInfo<LicenseCase>& info) { return std::string(info.param.Name); });

TEST_F(DialogTest, LicenseDialogLayout) {
    ASSERT_TRUE(scratch_.Write("licence.txt", "text"));
    ::Setup.LicenseFile = const_cast<char*>("licence.txt");
    LONG dialogStyle = 0, acceptStyle = 0, declineStyle = 0, editStyle = 0;
    HWND owner = nullptr;
    std::string editClass, acceptText, declineText;
    bool declineHasFocus = false, editHasBorder = false;
    RunDialog(ShowLicenseDialog, LicenseTitle,
              [&](HWND dialog) {
                  dialogStyle = GetWindowLongA(dialog, GWL_STYLE);
                  owner = GetWindow(dialog, GW_OWNER);
                  acceptStyle = robot::ControlStyle(dialog, IDOK);
                  declineStyle = robot::ControlStyle(dialog, IDCANCEL);
                  editStyle = robot::ControlStyle(dialog, IDC_LICENSE_TEXT);
                  editHasBorder = HasBorder(dialog, IDC_LICENSE_TEXT);
                  editClass = robot::WindowClass(GetDlgItem(dialog, IDC_LICENSE_TEXT));
                  acceptText = robot::ControlText(dialog, IDOK);
                  declineText = robot::ControlText(dialog, IDCANCEL);
                  GUITHREADINFO info = {};
                  info.cbSize = sizeof info;
                  declineHasFocus = GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
                                    info.hwndFocus == GetDlgItem(dialog, IDCANCEL);
              },
              Decline);
    const LONG frame = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(dialogStyle & frame, frame);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(acceptText, "Accept");
    EXPECT_EQ(declineText, "Decline");
    EXPECT_EQ(acceptStyle & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(declineStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_TRUE(declineHasFocus);
    EXPECT_STRCASEEQ(editClass.c_str(), "Edit");
    const LONG editBits = WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                          ES_AUTOHSCROLL | ES_READONLY;
    EXPECT_EQ(editStyle & editBits, editBits);
    EXPECT_TRUE(editHasBorder);
}

TEST_F(DialogTest, MissingLicenseFileIsReportedAndDeclines) {
    ::Setup.LicenseFile = const_cast<char*>("missing.txt");
    ScriptedResponder responder;
    CreatedWindows created;
    bool appeared = false;
    EXPECT_FALSE(RunDialog(ShowLicenseDialog, LicenseTitle, NoLook, Accept, &appeared));
    EXPECT_FALSE(appeared) << "the dialog stayed up although it could not be filled";
    ASSERT_EQ(responder.Boxes().size(), 2u);
    EXPECT_TRUE(StartsWith(responder.Boxes()[0].Text, "Cannot open file missing.txt (0/2 - "))
        << responder.Boxes()[0].Text;
    const RecordedBox& init = responder.Boxes()[1];
    EXPECT_EQ(init.Text, "Cannot init dialog");
    EXPECT_EQ(init.Title, "Setup");
    EXPECT_EQ(init.Type, (UINT)MB_ICONERROR);
    EXPECT_EQ(created.TitleOf(init.Owner), LicenseTitle) << "the box must be owned by the dialog";
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

    std::string InstallDir() const { return ::Setup.InstallDir ? ::Setup.InstallDir : "(null)"; }
    std::string ProgramGroup() const { return ::Setup.ProgramGroup ? ::Setup.ProgramGroup : "(null)"; }
};

TEST_F(DirectoriesDialogTest, StartsWithExpandedDefaultsAndInstalls) {
    ScriptedResponder responder;
    std::string directory, group;
    bool installed = RunDialog(ShowDirectoriesDialog, DirectoriesTitle,
                               [&](HWND dialog) {
                                   directory = robot::ControlText(dialog, IDC_INSTALL_DIR);
                                   group = robot::ControlText(dialog, IDC_PROGRAM_GROUP);
                               },
                               Accept);
    EXPECT_TRUE(installed);
    EXPECT_EQ(directory, "C:\\Program Files\\Sample");
    EXPECT_EQ(group, "Sample Tools");
    EXPECT_EQ(InstallDir(), "C:\\Program Files\\Sample");
    EXPECT_EQ(ProgramGroup(), "Sample Tools");
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(DirectoriesDialogTest, TypedTextsAreStoredAsTyped) {
    const std::string longest(PathBufferSize - 1, 'd');
    struct Typed {
        std::string Directory;
        std::string Group;
    };
    // References stay unexpanded, an empty text is taken, a whole path fits.
    const Typed cases[] = {{"%ProgramFilesDir%\\Other", "%AppName%"}, {"D:\\Product", ""}, {longest, "G"}};
    for (const Typed& typed : cases) {
        ScriptedResponder responder;
        bool installed = RunDialog(ShowDirectoriesDialog, DirectoriesTitle, NoLook, [&](HWND dialog) {
            robot::SetEditText(dialog, IDC_INSTALL_DIR, typed.Directory.c_str());
            robot::SetEditText(dialog, IDC_PROGRAM_GROUP, typed.Group.c_str());
            robot::PressEnter(dialog);
        });
        EXPECT_TRUE(installed) << typed.Directory;
        EXPECT_EQ(InstallDir(), typed.Directory);
        EXPECT_EQ(ProgramGroup(), typed.Group);
        EXPECT_TRUE(responder.Boxes().empty());
    }
}

TEST_F(DirectoriesDialogTest, CancelEscapeAndCloseBoxStoreNothing) {
    for (UserAction act : {UserAction(Decline), UserAction(Escape), UserAction(CloseBox)}) {
        ::Setup.InstallDir = nullptr;
        ::Setup.ProgramGroup = nullptr;
        EXPECT_FALSE(RunDialog(ShowDirectoriesDialog, DirectoriesTitle, NoLook, act));
        EXPECT_EQ(::Setup.InstallDir, nullptr);
        EXPECT_EQ(::Setup.ProgramGroup, nullptr);
    }
}

TEST_F(DirectoriesDialogTest, TextLongerThanAPathIsRefusedNotCut) {
    const std::string tooLong(PathBufferSize, 'x');
    ScriptedResponder responder;
    CreatedWindows created;
    bool installed = RunDialog(ShowDirectoriesDialog, DirectoriesTitle, NoLook, [&](HWND dialog) {
        robot::SetEditText(dialog, IDC_INSTALL_DIR, tooLong.c_str());
        robot::PressButton(dialog, IDOK);
    });
    EXPECT_FALSE(installed);
    EXPECT_EQ(::Setup.InstallDir, nullptr);
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "The text is too long (at most 259 characters are allowed)");
    EXPECT_EQ(created.TitleOf(responder.Boxes()[0].Owner), DirectoriesTitle);
}

TEST_F(DirectoriesDialogTest, DefaultsFillTheWholeBufferButNoMore) {
    // 255 characters is the most the initial text may hold.
    const std::string fits(MessageBufferSize - 1, 'f');
    ::Setup.DefaultInstallDir = const_cast<char*>(fits.c_str());
    std::string shown;
    {
        ScriptedResponder responder;
        EXPECT_TRUE(RunDialog(ShowDirectoriesDialog, DirectoriesTitle,
                              [&](HWND dialog) { shown = robot::ControlText(dialog, IDC_INSTALL_DIR); }, Accept));
        EXPECT_TRUE(responder.Boxes().empty());
    }
    EXPECT_EQ(shown, fits);

    const std::string value(MessageBufferSize - 8, 'v');
    ::Setup.ProgramFilesDir = const_cast<char*>(value.c_str());
    ::Setup.DefaultInstallDir = const_cast<char*>("%ProgramFilesDir%\\Product");
    ScriptedResponder responder;
    CreatedWindows created;
    bool appeared = false;
    EXPECT_FALSE(RunDialog(ShowDirectoriesDialog, DirectoriesTitle, NoLook, Accept, &appeared));
    EXPECT_FALSE(appeared);
    ASSERT_EQ(responder.Boxes().size(), 2u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: %ProgramFilesDir%\\Product");
    EXPECT_EQ(responder.Boxes()[1].Text, "Cannot init dialog");
    EXPECT_EQ(created.TitleOf(responder.Boxes()[1].Owner), DirectoriesTitle);
}

TEST_F(DirectoriesDialogTest, DirectoriesDialogLayout) {
    LONG installStyle = 0, cancelStyle = 0, editStyle = 0, noteStyle = 0;
    bool editHasBorder = false;
    std::vector<std::string> texts;
    std::string installText, cancelText;
    RunDialog(ShowDirectoriesDialog, DirectoriesTitle,
              [&](HWND dialog) {
                  installStyle = robot::ControlStyle(dialog, IDOK);
                  cancelStyle = robot::ControlStyle(dialog, IDCANCEL);
                  editStyle = robot::ControlStyle(dialog, IDC_PROGRAM_GROUP);
                  editHasBorder = HasBorder(dialog, IDC_PROGRAM_GROUP);
                  noteStyle = robot::ControlStyle(dialog, IDC_IMPORTANT_NOTE);
                  installText = robot::ControlText(dialog, IDOK);
                  cancelText = robot::ControlText(dialog, IDCANCEL);
                  texts = robot::ReadTexts(dialog);
              },
              Decline);
    EXPECT_EQ(installText, "Install");
    EXPECT_EQ(cancelText, "Cancel");
    EXPECT_EQ(installStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(cancelStyle & BS_TYPEMASK, BS_PUSHBUTTON);
    const LONG editBits = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
    EXPECT_EQ(editStyle & editBits, editBits);
    EXPECT_TRUE(editHasBorder);
    EXPECT_EQ(noteStyle & (SS_TYPEMASK | WS_GROUP), SS_CENTER | WS_GROUP);
    // Child order is template order: edit, label, edit, label, note.
    const std::vector<std::string> expected = {"C:\\Program Files\\Sample", "Installation directory", "Sample Tools",
                                               "Program group name", ImportantNote};
    EXPECT_EQ(texts, expected);
}

TEST_F(DialogTest, DialogMissingFromTheModuleIsReported) {
    // A module without the templates.
    ::Setup.InstanceHandle = GetModuleHandleA("kernel32.dll");
    ::Setup.LicenseFile = const_cast<char*>("licence.txt");
    for (bool (*show)() : {ShowLicenseDialog, ShowDirectoriesDialog}) {
        ScriptedResponder responder;
        EXPECT_FALSE(show());
        ASSERT_EQ(responder.Boxes().size(), 1u);
        const std::string& text = responder.Boxes()[0].Text;
        EXPECT_TRUE(StartsWith(text, "Cannot create dialog (") && text.back() == ')') << text;
    }
    // The progress window is only a notice: without it the work goes on.
    ScriptedResponder responder;
    ShowProgress("Installing Sample device driver...");
    HideProgress();
    EXPECT_TRUE(responder.Boxes().empty());
}

// --- Progress window ----------------------------------------------------------

// The progress window belongs to this thread, which runs no modal loop while
// it is up: the robot works it from here.
TEST_F(DialogTest, ProgressWindowShowsItsTextUntilHidden) {
    ShowProgress("Installing Sample Sound device driver...");
    HWND window = robot::FindWindowByTitle("Setup", GetCurrentProcessId(), 5000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(robot::ControlText(window, IDC_PROGRESS_TEXT), "Installing Sample Sound device driver...");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_VISIBLE), WS_POPUP | WS_CAPTION | WS_VISIBLE);
    EXPECT_EQ(style & WS_SYSMENU, 0) << "the user cannot close the notice";
    EXPECT_NE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    LONG textStyle = robot::ControlStyle(window, IDC_PROGRESS_TEXT);
    EXPECT_EQ(textStyle & (SS_TYPEMASK | SS_CENTERIMAGE), SS_CENTER | SS_CENTERIMAGE);

    // A second notice replaces the first.
    ShowProgress("Removing Sample Sound device driver...");
    EXPECT_FALSE(IsWindow(window));
    window = robot::FindWindowByTitle("Setup", GetCurrentProcessId(), 5000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(robot::ControlText(window, IDC_PROGRESS_TEXT), "Removing Sample Sound device driver...");

    HideProgress();
    EXPECT_FALSE(IsWindow(window));
    HideProgress();  // nothing shown: nothing happens
}

}  // namespace
