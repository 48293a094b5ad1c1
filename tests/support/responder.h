// Answers the program's message boxes inside a test: records every box and
// answers it from a script, as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct RecordedBox {
    HWND Owner;
    std::string Text;
    std::string Title;
    UINT Type;
};

// Installed for its lifetime (one at a time). Boxes with the single OK button
// are answered IDOK when the script has no answer left; any other box beyond
// the script fails the test and is answered with Cancel (or No). `whileUp`,
// when given, runs for each box once it is recorded and before it is
// answered: what it sees is what the user sees while the box is up.
class ScriptedResponder {
public:
    typedef std::function<void(const RecordedBox& box)> WhileUp;
    explicit ScriptedResponder(std::vector<int> answers = {}, WhileUp whileUp = nullptr);
    ~ScriptedResponder();
    ScriptedResponder(const ScriptedResponder&) = delete;
    ScriptedResponder& operator=(const ScriptedResponder&) = delete;

    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    // Texts of all boxes, in order: handy for whole-sequence assertions.
    std::vector<std::string> Texts() const;
    // Answers still unused.
    size_t AnswersLeft() const { return answers_.size() - next_; }

private:
    static int Respond(HWND owner, const char* text, const char* title, UINT type);

    std::vector<int> answers_;
    WhileUp whileUp_;
    size_t next_ = 0;
    std::vector<RecordedBox> boxes_;
};
