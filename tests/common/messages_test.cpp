// Message boxes, error texts, memory blocks and text helpers.
#include <gtest/gtest.h>

#include <string>

#include "common/messages.h"
#include "support/guarded_buffer.h"
#include "support/responder.h"

namespace {

std::string SystemTextFor(DWORD code) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string system = text;
    if (!system.empty() && system.back() == ' ')
        system.pop_back();
    return system;
}

int FormatInto(GuardedBuffer* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = FormatBounded(buffer->Data(), buffer->Size, format, args);
    va_end(args);
    return length;
}

}  // namespace

// "facility/code - system text" of the error set last; HRESULTs are split,
// and a code the system has no text for ends in the dash.
TEST(LastErrorText, FacilityCodeAndTheSystemText) {
    const struct {
        DWORD Code;
        std::string Text;  // the whole text, or its start when `Whole` is false
        bool Whole;
    } cases[] = {
        {ERROR_ACCESS_DENIED, "0/5 - " + SystemTextFor(ERROR_ACCESS_DENIED), true},
        {ERROR_FILE_NOT_FOUND, "0/2 - ", false},
        {ERROR_PATH_NOT_FOUND, "0/3 - ", false},
        {(DWORD)E_ACCESSDENIED, "7/5 - ", false},
        // The system may have no text for it: then the prefix ends in the dash.
        {(DWORD)REGDB_E_CLASSNOTREG, "4/340 -", false},
        // Customer-defined codes (bit 29) have no system text.
        {0x20001234, "0/4660 -", true},
    };
    ASSERT_NE(SystemTextFor(ERROR_ACCESS_DENIED), "");
    for (const auto& c : cases) {
        SetLastError(c.Code);
        std::string text = LastErrorText();
        EXPECT_EQ(c.Whole ? text : text.substr(0, c.Text.size()), c.Text) << std::hex << c.Code;
        EXPECT_NE(text.back(), ' ') << std::hex << c.Code;
    }
}

// Errors and warnings are titled "Setup", errors have no owner unless
// given one; information boxes keep the first 255 characters, questions
// hold longer texts.
TEST(Reports, ErrorWarningOwnedAndQuestionBoxes) {
    ScriptedResponder responder({IDNO});
    HWND owner = GetDesktopWindow();
    std::string path(900, 'p');
    EXPECT_EQ(AskUser("Uninstall", MB_YESNO | MB_ICONINFORMATION, "Do you really want to uninstall %s?",
                      path.substr(0, 600).c_str()),
              IDNO);
    ReportError("Cannot open file %s (%u)", "a.txt", 5u);
    ReportWarning("Warning: %c%c", 'o', 'k');
    ReportErrorOwned(owner, "Cannot init dialog");
    ReportError("Cannot delete file %s (%s)", path.c_str(), "x");
    const struct {
        std::string Text;
        const char* Title;
        UINT Type;
        HWND Owner;
    } expected[] = {
        {"Do you really want to uninstall " + path.substr(0, 600) + "?", "Uninstall", MB_YESNO | MB_ICONINFORMATION,
         nullptr},
        {"Cannot open file a.txt (5)", "Setup", MB_ICONERROR, nullptr},
        {"Warning: ok", "Setup", MB_ICONWARNING, nullptr},
        {"Cannot init dialog", "Setup", MB_ICONERROR, owner},
        {"Cannot delete file " + std::string(255 - 19, 'p'), "Setup", MB_ICONERROR, nullptr},
    };
    ASSERT_EQ(responder.Boxes().size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < responder.Boxes().size(); i++) {
        const RecordedBox& box = responder.Boxes()[i];
        EXPECT_EQ(box.Text, expected[i].Text);
        EXPECT_EQ(box.Title, expected[i].Title) << i;
        EXPECT_EQ(box.Type, expected[i].Type) << i;
        EXPECT_EQ(box.Owner, expected[i].Owner) << i;
    }
}

// A 64-bit process gets any 32-bit size from the heap, so a failing
// allocation cannot be provoked here; growth keeps the contents, a copy of
// "" is one byte, and freeing null is harmless.
TEST(MemoryBlocks, GrowDuplicateAndFree) {
    char* block = static_cast<char*>(AllocBlock(16));
    ASSERT_NE(block, nullptr);
    lstrcpyA(block, "still here");
    char* grown = static_cast<char*>(ReallocBlock(block, 64 * 1024));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "still here");
    EXPECT_GE(LocalSize(grown), 64u * 1024);
    FreeBlock(grown);
    FreeBlock(nullptr);
    char* empty = DuplicateString("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(LocalSize(empty), 1u);
    EXPECT_STREQ(empty, "");
    char* copy = DuplicateString("C:\\Program Files");
    EXPECT_STREQ(copy, "C:\\Program Files");
    FreeBlock(empty);
    FreeBlock(copy);
}

TEST(TextHelpers, BlanksAndSearches) {
    for (char c : {' ', '\t'})
        EXPECT_TRUE(IsBlank(c)) << int(c);
    for (char c : {'\n', '\r', '\0'})
        EXPECT_FALSE(IsBlank(c)) << int(c);
    const char blanks[] = " \t \t";
    EXPECT_EQ(SkipBlanks(blanks), blanks + 4);
    const char text[] = " \tkey=1:file,rest";
    EXPECT_EQ(SkipBlanks(text), text + 2);
    EXPECT_EQ(FindAnyOf(text, ",:"), text + 7);
    EXPECT_EQ(FindAnyOf(text, "="), text + 5);
    EXPECT_EQ(FindAnyOf(text, "\""), text + sizeof text - 1);
    EXPECT_EQ(FindAnyOf(text, ""), text + sizeof text - 1);
}

TEST(TextHelpers, CompareNoCase) {
    const struct {
        const char* a;
        const char* b;
        int n;
        bool equal;
    } cases[] = {
        {"hklm\\Software", "HKLM\\", 5, true},
        {"HKCU\\x", "hkcu\\", 5, true},
        {"HKL", "HKLM\\", 5, false},
        {"HKLM/", "HKLM\\", 5, false},
        {"createfile C:\\x", "CreateFile", 10, true},
        {"CreateFil", "CreateFile", 10, false},
        {"", "AppName", 7, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareNoCase(c.a, c.b, c.n) == 0, c.equal) << c.a << " vs " << c.b;
}

// Formatting, copying and appending keep to the buffer: a text that does
// not fit is cut (formatting) or refused (copy, append).
TEST(TextHelpers, BoundedFormatCopyAndAppend) {
    GuardedBuffer buffer(8);
    EXPECT_EQ(FormatInto(&buffer, "%s", std::string(2000, 'x').c_str()), 7);
    EXPECT_EQ(buffer.Text(), std::string(7, 'x'));
    EXPECT_EQ(FormatInto(&buffer, "%u-%X", 12u, 0xABu), 5);
    EXPECT_EQ(buffer.Text(), "12-AB");
    EXPECT_TRUE(CopyText(buffer.Data(), buffer.Size, "1234567"));
    EXPECT_EQ(buffer.Text(), "1234567");
    EXPECT_FALSE(CopyText(buffer.Data(), buffer.Size, "12345678"));
    EXPECT_EQ(buffer.Text().size(), 7u);
    EXPECT_TRUE(CopyText(buffer.Data(), buffer.Size, "abc"));
    EXPECT_TRUE(AppendText(buffer.Data(), buffer.Size, "defg"));
    EXPECT_EQ(buffer.Text(), "abcdefg");
    EXPECT_FALSE(AppendText(buffer.Data(), buffer.Size, "h"));
    EXPECT_TRUE(buffer.GuardIntact());
}
