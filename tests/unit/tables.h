// A table is rows of a name, an input and the outcome expected: the loop
// writes the outcome of each input as text, followed by the message boxes
// the program showed meanwhile, and compares.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"

// An error report is titled "Setup", has no owner, the error icon and OK.
struct ShownBox {
    std::string Title, Text;
    UINT Type;
    HWND Owner;
    bool IsReport() const { return !Owner && Title == "Setup" && Type == MB_ICONERROR; }
};

// Records the boxes shown from its creation to its end, answering each OK.
struct BoxRecorder {
    static inline std::vector<ShownBox> Boxes;
    BoxRecorder() {
        Boxes.clear();
        SetMessageBoxResponder([](HWND owner, const char* text, const char* title, UINT type) {
            Boxes.push_back({title, text, type, owner});
            return IDOK;
        });
    }
    ~BoxRecorder() { SetMessageBoxResponder(nullptr); }
};

struct Row {
    const char* Name;
    std::string Input, Expected;
};

// The '|'-separated fields of an input.
inline std::vector<std::string> Fields(const std::string& input) {
    std::vector<std::string> fields(1);
    for (char c : input)
        c == '|' ? fields.emplace_back() : fields.back() += c;
    return fields;
}

template <size_t N, typename Outcome>
void CheckRows(const Row (&rows)[N], Outcome outcome) {
    for (const Row& row : rows) {
        BoxRecorder boxes;
        std::string got = outcome(row.Input);
        // "[text]" for an error report, "[title type: text]" for another box.
        for (const ShownBox& box : boxes.Boxes)
            got += " [" + (box.IsReport() ? "" : box.Title + " " + std::to_string(box.Type) + ": ") + box.Text + "]";
        EXPECT_EQ(got, row.Expected) << row.Name;
    }
}
