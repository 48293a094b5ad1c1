#include "runner/runner.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "resource.h"  // the program's control identifiers
#include "robot/robot.h"

namespace {

const DWORD WindowTimeoutMs = 20000;

// The program's dialogs by their keyword: the title, the controls whose
// texts a line gives, and the buttons.
struct Dialog {
    const char* Title;
    std::vector<int> Ids;
    const char* Buttons;
};
const std::map<std::string, Dialog> Dialogs = {
    {"license", {"License agreement", {IDC_LICENSE_TEXT}, "ok cancel*"}},
    {"directories", {"Choose directories", {IDC_INSTALL_DIR, IDC_PROGRAM_GROUP}, "ok* cancel"}},
};

std::vector<DWORD> RunningProcesses(const Run& run) {
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST List;
        ULONG_PTR More[63];
    } ids = {};
    ids.List.NumberOfAssignedProcesses = 64;
    std::vector<DWORD> running;
    if (run.Job && QueryInformationJobObject(run.Job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
        for (DWORD i = 0; i < ids.List.NumberOfProcessIdsInList; i++)
            running.push_back(static_cast<DWORD>(ids.List.ProcessIdList[i]));
    }
    return running;
}

// Ends the run: what is still up would only wait for answers that never come.
bool Stop(Run& run, const std::string& what) {
    TerminateJobObject(run.Job, 1);
    return Fail(run, what);
}

bool Unexpected(Run& run, HWND window) {
    std::string text = robot::IsMessageBox(window) ? robot::MessageBoxText(window) : std::string("(a dialog)");
    return Stop(run, "unexpected window \"" + robot::WindowTitle(window) + "\": " + Visible(text));
}

// A progress notice may be gone a moment later: it gets less time to be
// painted, and no picture when it went meanwhile.
void Screenshot(Run& run, HWND window, bool progress) {
    if (robot::IsMessageBox(window))
        robot::MessageBoxIconKind(window);  // painted by now
    Sleep(progress ? 50 : 200);
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%s\\%02d-%s%s.bmp", run.Screenshots.c_str(), run.Shots + 1,
                  progress ? "progress-" : "", ShortName(robot::WindowTitle(window)).c_str());
    if (IsWindowVisible(window) && robot::SaveScreenshot(name))
        run.Shots++;
}

// The next window of the run; the progress notices on the way photographed for --screenshots.
HWND NextWindow(Run& run) {
    HWND progress = nullptr, window = nullptr;
    std::vector<DWORD> running;
    Poll(WindowTimeoutMs, 10, [&] {
        running = RunningProcesses(run);
        HWND notice = run.Screenshots.empty() ? nullptr : robot::FindWindowOf(running, true);
        if (notice && notice != progress && robot::ButtonIds(notice).empty())
            Screenshot(run, progress = notice, true);
        return running.empty() || (window = robot::FindWindowOf(running)) != nullptr;
    });
    if (!window)
        Fail(run, running.empty() ? "the program ended without showing this window" : "no window came within 20 s");
    else if (run.Timing)
        std::printf("timing %d %s %.1f\n", run.Line->Number, run.Line->Keyword.c_str(),
                    Milliseconds() - run.LastAnswer);
    if (window && !run.Screenshots.empty())
        Screenshot(run, window, false);
    return window;
}

bool Answer(Run& run, HWND window, const std::string& answer) {
    static const std::map<std::string, int> buttons = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO},
        {"retry", IDRETRY}, {"accept", IDOK}, {"decline", IDCANCEL}, {"install", IDOK}};
    run.LastAnswer = Milliseconds();
    if (answer == "enter" || answer == "escape")
        robot::PressKey(window, answer == "enter" ? VK_RETURN : VK_ESCAPE);
    else if (!buttons.count(answer) || !robot::PressButton(window, buttons.at(answer)))
        return Fail(run, "cannot answer " + answer);
    return true;
}

bool AnswerAndWait(Run& run, HWND window, const std::string& answer) {
    return Answer(run, window, answer) && (robot::WaitGone(window) || Fail(run, "the window stays after " + answer));
}

// Types a dialog's fields, then answers. The dialog may stay, with a box in
// front of it, when the choice is refused.
bool TypeAndAnswer(Run& run, HWND window, const std::vector<int>& ids, const std::string& answer, const Fields& typed) {
    for (size_t i = 0; i < ids.size(); i++) {
        if (typed.size() != ids.size() || !robot::SetEditText(window, ids[i], typed[i].c_str()))
            return Fail(run, "cannot type dir | group");
    }
    if (!Answer(run, window, answer))
        return false;
    Poll(WindowTimeoutMs, 10, [&] {
        HWND front = robot::FindWindowOf(RunningProcesses(run));
        return !IsWindowVisible(window) || (front && front != window);
    });
    return true;
}

// "yes no*": the push buttons in order, the default one starred.
std::string ButtonsOf(HWND window) {
    static const char* names[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    std::string shown;
    int preset = robot::DefaultButton(window);
    for (int id : robot::ButtonIds(window))
        shown += std::string(shown.empty() ? "" : " ") + (id > 0 && id < 8 ? names[id] : "?") +
                 (id == preset ? "*" : "");
    return shown;
}

// Whether the window shows what the line expects: a box's title, text, icon
// and buttons, or a dialog's fields. Each difference is reported.
bool Shows(Run& run, HWND window, const Dialog* dialog, const Fields& expected) {
    static const std::map<UINT, std::string> icons = {{MB_ICONERROR, "error"}, {MB_ICONWARNING, "warning"},
        {MB_ICONQUESTION, "question"}, {MB_ICONINFORMATION, "information"}};
    bool same = Expect(run, "title", dialog ? dialog->Title : expected[0], robot::WindowTitle(window));
    if (!dialog) {
        UINT icon = robot::MessageBoxIconKind(window);
        same &= Expect(run, "text", expected[1], robot::MessageBoxText(window)) &
                Expect(run, "icon", expected[2], icons.count(icon) ? icons.at(icon) : "none");
    }
    for (size_t i = 0; dialog && i < dialog->Ids.size(); i++)
        same &= Expect(run, "field", expected[i], robot::ControlText(window, dialog->Ids[i]));
    return Expect(run, "buttons", dialog ? dialog->Buttons : expected[3], ButtonsOf(window)) & same;
}

}  // namespace

bool Settle(Run& run, bool noWindowAtAll) {
    if (!run.Running)
        return true;
    run.Running = false;
    HWND window = nullptr;
    bool ended = Poll(LongWaitMs, 20, [&] {
        std::vector<DWORD> running = RunningProcesses(run);
        return running.empty() || (window = robot::FindWindowOf(running, noWindowAtAll)) != nullptr;
    });
    return window ? Unexpected(run, window)
                  : ended || Stop(run, "the run's processes are still running after a minute");
}

// The next window must show what the line expects (the run ends when it
// differs): "<fields> -> <answer>". Without an answer a box stays up;
// "install <dir> | <group>" (or "enter ...") types a dialog's fields first.
bool ExpectWindow(Run& run, Args) {
    auto found = Dialogs.find(run.Line->Keyword);
    const Dialog* dialog = found == Dialogs.end() ? nullptr : &found->second;
    const std::string& rest = run.Line->Rest;
    size_t arrow = rest.rfind(" -> ");
    std::string answer = arrow == std::string::npos ? std::string() : Trim(rest.substr(arrow + 4));
    bool whole = dialog && dialog->Ids.size() == 1;  // the licence's text, or "@<file>" for a file's
    Fields expected = whole ? Fields{Text(run, rest.substr(0, arrow))} : Split(run, rest.substr(0, arrow));
    if (whole && expected[0][0] == '@' && !ReadFileBytes(expected[0].substr(1), &expected[0]))
        return Fail(run, "cannot read " + expected[0]);
    if (expected.size() != (dialog ? dialog->Ids.size() : 4))
        return Fail(run, dialog ? "directories need dir | group" : "a box needs title | text | icon | buttons");
    HWND window = NextWindow(run);
    if (!window || (!dialog && !robot::IsMessageBox(window)))
        return window && Unexpected(run, window);
    if (!Shows(run, window, dialog, expected))
        return Stop(run, dialog ? "the dialog differs" : "the box differs");
    if (!dialog && answer.empty()) {
        run.OpenBox = window;
        return true;
    }
    size_t space = answer.find(' ');
    if (!dialog || space == std::string::npos)
        return AnswerAndWait(run, window, answer);
    return TypeAndAnswer(run, window, dialog->Ids, answer.substr(0, space), Split(run, answer.substr(space + 1)));
}

bool AnswerOpenBox(Run& run, Args f) {
    HWND box = std::exchange(run.OpenBox, nullptr);
    return box ? AnswerAndWait(run, box, f[0]) : Fail(run, "no box is up");
}

bool ExpectExit(Run& run, Args f) {
    HWND window = nullptr;
    bool ended = Poll(ExitTimeoutMs, 0, [&] {
        return WaitForSingleObject(run.First.hProcess, 20) != WAIT_TIMEOUT ||
               (window = robot::FindWindowOf({run.First.dwProcessId})) != nullptr;
    });
    if (window || !ended)
        return window ? Unexpected(run, window) : Stop(run, "the program is still running after 30 s");
    if (run.Timing)
        std::printf("timing %d exit %.1f\n", run.Line->Number, Milliseconds() - run.LastAnswer);
    DWORD code = 0;
    GetExitCodeProcess(run.First.hProcess, &code);
    return Expect(run, "exit code", f[0], std::to_string(code));
}

// The progress notice one of the run's processes shows now: a window without
// buttons with the notice's text field, whatever box is up in front of it.
bool CheckProgress(Run& run, Args f) {
    std::vector<DWORD> running = RunningProcesses(run);
    std::string text;
    for (HWND window = nullptr; text.empty() && (window = FindWindowExA(nullptr, window, nullptr, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (std::count(running.begin(), running.end(), owner) && IsWindowVisible(window) &&
            robot::ButtonIds(window).empty())
            text = robot::ControlText(window, IDC_PROGRESS_TEXT);
    }
    return Expect(run, "progress notice", f[0], text);
}

bool ExpectNoWindow(Run& run, Args) { return Settle(run, true); }
