// The message boxes the program shows while a test runs: each is recorded
// and answered with the same button, as by a user who always presses it.
#pragma once

#include <string>
#include <vector>

#include "common/messages.h"

struct ShownBox {
    std::string Text;
    std::string Title;
    UINT Type;
    HWND Owner;
};

// Records from its creation to its end (one at a time).
class BoxRecorder {
public:
    explicit BoxRecorder(int answer = IDOK) {
        Answer = answer;
        Shown.clear();
        SetMessageBoxResponder(Record);
    }
    ~BoxRecorder() { SetMessageBoxResponder(nullptr); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    const std::vector<ShownBox>& Boxes() const { return Shown; }
    // The texts of all boxes in order, each followed by '|'.
    std::string Texts() const {
        std::string texts;
        for (const ShownBox& box : Shown)
            texts += box.Text + "|";
        return texts;
    }

private:
    static int Record(HWND owner, const char* text, const char* title, UINT type) {
        Shown.push_back(ShownBox{text, title, type, owner});
        return Answer;
    }
    static inline int Answer;
    static inline std::vector<ShownBox> Shown;
};
