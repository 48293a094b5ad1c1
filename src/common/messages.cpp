#include "common/messages.h"

namespace {

MessageBoxResponder ActiveResponder;

char ErrorTextBuffer[256];

// wvsprintfA never writes more than 1024 characters with its NUL.
const int FormatterLimit = 1024;

}  // namespace

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder) {
    MessageBoxResponder previous = ActiveResponder;
    ActiveResponder = responder;
    return previous;
}

int ShowMessageBox(HWND owner, const char* text, const char* title, UINT type) {
    if (ActiveResponder)
        return ActiveResponder(owner, text, title, type);
    return MessageBoxA(owner, text, title, type);
}

int FormatBounded(char* buffer, int size, const char* format, va_list args) {
    char whole[FormatterLimit + 1];
    int length = wvsprintfA(whole, format, args);
    if (length < 0)
        length = 0;
    if (length > FormatterLimit)
        length = FormatterLimit;
    whole[length] = '\0';
    // A cut never splits a double-byte character: its first byte alone
    // would show as another character, or swallow the one after it.
    const char* end = whole;
    for (const char* next; *end && (next = CharNextA(end)) - whole <= size - 1;)
        end = next;
    length = static_cast<int>(end - whole);
    for (int i = 0; i < length; i++)
        buffer[i] = whole[i];
    buffer[length] = '\0';
    return length;
}

int AskUser(const char* title, UINT type, const char* format, ...) {
    char text[FormatterLimit];
    va_list args;
    va_start(args, format);
    FormatBounded(text, sizeof text, format, args);
    va_end(args);
    return ShowMessageBox(nullptr, text, title, type);
}

namespace {

void ShowMessage(HWND owner, const char* format, va_list args, UINT type) {
    char text[256];
    FormatBounded(text, sizeof text, format, args);
    ShowMessageBox(owner, text, "Setup", type);
}

}  // namespace

void ReportError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ShowMessage(nullptr, format, args, MB_ICONERROR);
    va_end(args);
}

void ReportErrorOwned(HWND owner, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ShowMessage(owner, format, args, MB_ICONERROR);
    va_end(args);
}

void ReportWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ShowMessage(nullptr, format, args, MB_ICONWARNING);
    va_end(args);
}

const char* LastErrorText() {
    DWORD code = GetLastError();
    int prefix = wsprintfA(ErrorTextBuffer, "%u/%u - ", (code >> 16) & 0x1FFF, code & 0xFFFF);
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), ErrorTextBuffer + prefix,
                   sizeof ErrorTextBuffer - prefix - 1, nullptr);
    // FormatMessageA leaves the buffer alone on failure, but make sure the
    // text always ends inside it.
    ErrorTextBuffer[sizeof ErrorTextBuffer - 1] = '\0';
    int length = lstrlenA(ErrorTextBuffer);
    if (length > 0 && ErrorTextBuffer[length - 1] == ' ')
        ErrorTextBuffer[length - 1] = '\0';
    return ErrorTextBuffer;
}

void* AllocBlock(DWORD size) {
    void* block = LocalAlloc(LMEM_FIXED, size);
    if (!block)
        ReportError("Cannot allocate %u bytes of memory (%s)", size, LastErrorText());
    return block;
}

void* ReallocBlock(void* block, DWORD size) {
    void* moved = LocalReAlloc(block, size, LMEM_MOVEABLE);
    if (!moved)
        ReportError("Cannot reallocate block %X to %u bytes (%s)", (unsigned)(UINT_PTR)block, size,
                    LastErrorText());
    return moved;
}

void FreeBlock(void* block) {
    if (block)
        LocalFree(block);
}

char* DuplicateString(const char* text) {
    char* copy = static_cast<char*>(AllocBlock(lstrlenA(text) + 1));
    if (copy)
        lstrcpyA(copy, text);
    return copy;
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

const char* SkipBlanks(const char* text) {
    while (IsBlank(*text))
        text++;
    return text;
}

char* SkipBlanks(char* text) {
    return const_cast<char*>(SkipBlanks(const_cast<const char*>(text)));
}

const char* FindAnyOf(const char* text, const char* set) {
    for (; *text; text++) {
        for (const char* s = set; *s; s++) {
            if (*s == *text)
                return text;
        }
    }
    return text;
}

char* FindAnyOf(char* text, const char* set) {
    return const_cast<char*>(FindAnyOf(const_cast<const char*>(text), set));
}

namespace {

// Length of the text, but no more than `limit`: CompareStringA is given the
// real length so that it never reads past a short text's NUL.
int LengthUpTo(const char* text, int limit) {
    int length = 0;
    while (length < limit && text[length])
        length++;
    return length;
}

}  // namespace

int CompareNoCase(const char* a, const char* b, int n) {
    int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, LengthUpTo(a, n), b, LengthUpTo(b, n));
    if (result == 0)
        return -2;  // the comparison could not be made: never "equal"
    return result - CSTR_EQUAL;
}

bool TextFits(DWORD length, DWORD size) {
    if (length >= size)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return length != 0 && length < size;
}

bool CopyText(char* buffer, int size, const char* text) {
    if (size <= 0)
        return false;
    buffer[0] = '\0';
    return AppendText(buffer, size, text);
}

bool AppendText(char* buffer, int size, const char* text) {
    int length = lstrlenA(buffer);
    while (*text) {
        if (length >= size - 1) {
            buffer[length] = '\0';
            return false;
        }
        buffer[length++] = *text++;
    }
    buffer[length] = '\0';
    return true;
}
