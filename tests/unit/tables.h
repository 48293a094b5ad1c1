// A table is rows of a name, an input and the outcome expected: the loop
// writes the outcome of each input as text, followed by the message boxes
// the program showed meanwhile, and compares.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"

struct ShownBox {
    std::string Title;
    std::string Text;
    UINT Type;
    HWND Owner;
    // An error report: titled "Setup", no owner, error icon, OK.
    bool IsReport() const { return !Owner && Title == "Setup" && Type == MB_ICONERROR; }
};

// Records the boxes shown from its creation to its end (one at a time) and
// answers each with the same button.
class BoxRecorder {
public:
    explicit BoxRecorder(int answer = IDOK) {
        Answer = answer;
        Shown.clear();
        SetMessageBoxResponder(Record);
    }
    ~BoxRecorder() { SetMessageBoxResponder(nullptr); }
    static const std::vector<ShownBox>& Boxes() { return Shown; }

private:
    static int Record(HWND owner, const char* text, const char* title, UINT type) {
        Shown.push_back(ShownBox{title, text, type, owner});
        return Answer;
    }
    static inline int Answer;
    static inline std::vector<ShownBox> Shown;
};

struct Row {
    const char* Name;
    std::string Input;
    std::string Expected;
};

// The '|'-separated fields of an input.
inline std::vector<std::string> Fields(const std::string& input) {
    std::vector<std::string> fields(1);
    for (char c : input) {
        if (c == '|')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

template <size_t N, typename Outcome>
void CheckRows(const Row (&rows)[N], Outcome outcome) {
    for (const Row& row : rows) {
        BoxRecorder boxes;
        std::string got = outcome(row.Input);
        // "[text]" for an error report, "[title type: text]" for another box.
        for (const ShownBox& box : boxes.Boxes())
            got += " [" + (box.IsReport() ? "" : box.Title + " " + std::to_string(box.Type) + ": ") + box.Text + "]";
        EXPECT_EQ(got, row.Expected) << row.Name;
    }
}
