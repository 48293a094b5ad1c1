#include "support/responder.h"

#include <gtest/gtest.h>

#include "common/messages.h"

namespace {
ScriptedResponder* Current;
}

ScriptedResponder::ScriptedResponder(std::vector<int> answers, WhileUp whileUp)
    : answers_(std::move(answers)), whileUp_(std::move(whileUp)) {
    Current = this;
    SetMessageBoxResponder(&ScriptedResponder::Respond);
}

ScriptedResponder::~ScriptedResponder() {
    SetMessageBoxResponder(nullptr);
    Current = nullptr;
}

std::vector<std::string> ScriptedResponder::Texts() const {
    std::vector<std::string> texts;
    for (const RecordedBox& box : boxes_)
        texts.push_back(box.Text);
    return texts;
}

int ScriptedResponder::Respond(HWND owner, const char* text, const char* title, UINT type) {
    ScriptedResponder* self = Current;
    self->boxes_.push_back(RecordedBox{owner, text, title, type});
    if (self->whileUp_)
        self->whileUp_(self->boxes_.back());
    if (self->next_ < self->answers_.size())
        return self->answers_[self->next_++];
    UINT buttons = type & MB_TYPEMASK;
    if (buttons == MB_OK)
        return IDOK;
    ADD_FAILURE() << "unexpected message box \"" << title << "\": " << text;
    return buttons == MB_YESNO ? IDNO : IDCANCEL;
}
