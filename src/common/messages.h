// Message boxes, error texts, memory blocks and small text helpers.
//
// Every message box of the program goes through ShowMessageBox. A test can
// install a responder that sees each box and answers it instead of the user.
#pragma once

#include <windows.h>
#include <stdarg.h>

// Answers a message box instead of MessageBoxA: gets what the box would show
// and returns the button the "user" pressed (IDOK, IDYES, ...).
typedef int (*MessageBoxResponder)(HWND owner, const char* text, const char* title, UINT type);

// Installs a responder and returns the one it replaces; null brings back
// the real MessageBoxA.
MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder);

// The single routine that shows a message box.
int ShowMessageBox(HWND owner, const char* text, const char* title, UINT type);

// The two kinds of question that an unattended run answers otherwise than
// with the default button: the install and uninstall confirmations (No is
// the default, and running unattended is the consent) and the retry for a
// file in use (Yes is the default; unattended, the file is queued instead).
const UINT ConfirmationBox = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;
const UINT FileInUseBox = MB_YESNO | MB_ICONERROR;

// Formats like wvsprintfA into `buffer` of `size` bytes (size >= 1). The text
// is formatted with room for the formatter's whole output (1024 characters)
// and as many whole characters as fit in size - 1 bytes are kept, so nothing
// is ever written past the buffer. Returns the length of the kept text.
int FormatBounded(char* buffer, int size, const char* format, va_list args);

// Formats the text (at most 1023 characters) and shows it in a box with the
// given title and type; returns the answer. For the program's questions.
int AskUser(const char* title, UINT type, const char* format, ...);

// Each formats a 256-byte message and shows it titled "Setup".
void ReportError(const char* format, ...);
void ReportErrorOwned(HWND owner, const char* format, ...);
void ReportWarning(const char* format, ...);

// "<facility>/<code> - <system text>" for the thread's last error code.
// The text lives in one shared buffer until the next call.
const char* LastErrorText();

// Fixed blocks of the local heap; failures report themselves.
void* AllocBlock(DWORD size);
void* ReallocBlock(void* block, DWORD size);
void FreeBlock(void* block);
char* DuplicateString(const char* text);

const char* SkipBlanks(const char* text);
char* SkipBlanks(char* text);
const char* FindAnyOf(const char* text, const char* set);
char* FindAnyOf(char* text, const char* set);
// 0 when the first n characters of a and b are equal ignoring case.
int CompareNoCase(const char* a, const char* b, int n);

// Whether a system call that returned `length` put a whole text into a
// buffer of `size` bytes. Such calls return 0 when they fail (their last
// error tells why), and the size they need, or the buffer's own, when the
// text does not fit. A cut path is no path: the last error is then
// ERROR_FILENAME_EXCED_RANGE, for the caller's report.
bool TextFits(DWORD length, DWORD size);

// Bounded copies: false (and nothing past the buffer) when the result with
// its NUL would need more than `size` bytes; the buffer then holds a NUL-ended
// prefix.
bool CopyText(char* buffer, int size, const char* text);
bool AppendText(char* buffer, int size, const char* text);
