// Message boxes, error texts, memory blocks and text helpers.
#include <gtest/gtest.h>

#include <string>

#include "common/messages.h"
#include "support/responder.h"

namespace {

std::string ErrorTextFor(DWORD code) {
    SetLastError(code);
    return LastErrorText();
}

std::string SystemTextFor(DWORD code) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

}  // namespace

TEST(LastErrorText, SystemErrorHasFacilityZeroAndTheSystemText) {
    std::string text = ErrorTextFor(ERROR_ACCESS_DENIED);
    ASSERT_EQ(text.rfind("0/5 - ", 0), 0u) << text;
    std::string system = SystemTextFor(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(system.empty());
    if (system.back() == ' ')
        system.pop_back();
    EXPECT_EQ(text, "0/5 - " + system);
    EXPECT_NE(text.back(), ' ');
}

TEST(LastErrorText, HresultIsSplitIntoFacilityAndCode) {
    EXPECT_EQ(ErrorTextFor(E_ACCESSDENIED).rfind("7/5 - ", 0), 0u);
    // The system may have no text for it: then the prefix ends in the dash.
    EXPECT_EQ(ErrorTextFor(REGDB_E_CLASSNOTREG).rfind("4/340 -", 0), 0u);
}

TEST(LastErrorText, CodeWithoutSystemTextEndsInTheDash) {
    // Customer-defined codes (bit 29) have no system text.
    EXPECT_EQ(ErrorTextFor(0x20001234), "0/4660 -");
}

TEST(LastErrorText, ReadsTheErrorBeforeAnythingElse) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    std::string first = LastErrorText();
    SetLastError(ERROR_PATH_NOT_FOUND);
    std::string second = LastErrorText();
    EXPECT_EQ(first.rfind("0/2 - ", 0), 0u);
    EXPECT_EQ(second.rfind("0/3 - ", 0), 0u);
}

TEST(Reports, ErrorWarningAndOwnedBoxes) {
    ScriptedResponder responder;
    HWND owner = GetDesktopWindow();
    ReportError("Cannot open file %s (%u)", "a.txt", 5u);
    ReportWarning("Warning: %c%c", 'o', 'k');
    ReportErrorOwned(owner, "Cannot init dialog");
    ASSERT_EQ(responder.Boxes().size(), 3u);
    const RecordedBox& error = responder.Boxes()[0];
    EXPECT_EQ(error.Text, "Cannot open file a.txt (5)");
    EXPECT_EQ(error.Title, "Setup");
    EXPECT_EQ(error.Type, (UINT)MB_ICONERROR);
    EXPECT_EQ(error.Owner, nullptr);
    EXPECT_EQ(responder.Boxes()[1].Text, "Warning: ok");
    EXPECT_EQ(responder.Boxes()[1].Type, (UINT)MB_ICONWARNING);
    EXPECT_EQ(responder.Boxes()[2].Owner, owner);
    EXPECT_EQ(responder.Boxes()[2].Type, (UINT)MB_ICONERROR);
}

TEST(Reports, LongTextKeepsItsFirst255Characters) {
    ScriptedResponder responder;
    std::string path(900, 'p');
    ReportError("Cannot delete file %s (%s)", path.c_str(), "x");
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Cannot delete file " + std::string(255 - 19, 'p'));
}

TEST(Reports, QuestionsHoldLongerTexts) {
    ScriptedResponder responder({IDNO});
    std::string path(600, 'q');
    EXPECT_EQ(AskUser("Uninstall", MB_YESNO | MB_ICONINFORMATION, "Do you really want to uninstall %s?", path.c_str()),
              IDNO);
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Do you really want to uninstall " + path + "?");
    EXPECT_EQ(responder.Boxes()[0].Title, "Uninstall");
}

namespace {

struct GuardedText {
    char text[16];
    char guard[4];
};

int FormatInto(GuardedText* area, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = FormatBounded(area->text, sizeof area->text, format, args);
    va_end(args);
    return length;
}

}  // namespace

TEST(FormatBounded, NeverWritesPastTheBuffer) {
    GuardedText area;
    memcpy(area.guard, "GGGG", 4);
    EXPECT_EQ(FormatInto(&area, "%s", std::string(2000, 'x').c_str()), 15);
    EXPECT_EQ(std::string(area.text), std::string(15, 'x'));
    EXPECT_EQ(memcmp(area.guard, "GGGG", 4), 0);
    EXPECT_EQ(FormatInto(&area, "%u-%X", 12u, 0xABu), 5);
    EXPECT_STREQ(area.text, "12-AB");
}

// A 64-bit process gets any 32-bit size from the heap, so a failing
// allocation cannot be provoked here; growth keeps the contents.
TEST(MemoryBlocks, GrowingKeepsTheContents) {
    char* block = static_cast<char*>(AllocBlock(16));
    ASSERT_NE(block, nullptr);
    lstrcpyA(block, "still here");
    char* grown = static_cast<char*>(ReallocBlock(block, 64 * 1024));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "still here");
    EXPECT_GE(LocalSize(grown), 64u * 1024);
    FreeBlock(grown);
}

TEST(MemoryBlocks, DuplicatesAndNullFree) {
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

TEST(TextHelpers, Blanks) {
    EXPECT_TRUE(IsBlank(' '));
    EXPECT_TRUE(IsBlank('\t'));
    EXPECT_FALSE(IsBlank('\n'));
    EXPECT_FALSE(IsBlank('\r'));
    EXPECT_FALSE(IsBlank('\0'));
    const char blanks[] = " \t \t";
    EXPECT_EQ(SkipBlanks(blanks), blanks + 4);
    const char text[] = " \tx y";
    EXPECT_EQ(SkipBlanks(text), text + 2);
}

TEST(TextHelpers, FindAnyOf) {
    const char text[] = "key=1:file,rest";
    EXPECT_EQ(FindAnyOf(text, ",:"), text + 5);
    EXPECT_EQ(FindAnyOf(text, "="), text + 3);
    EXPECT_EQ(FindAnyOf(text, "\""), text + sizeof text - 1);
    EXPECT_EQ(FindAnyOf(text, ""), text + sizeof text - 1);
}

TEST(TextHelpers, CompareNoCase) {
    struct Case {
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
    for (const Case& c : cases)
        EXPECT_EQ(CompareNoCase(c.a, c.b, c.n) == 0, c.equal) << c.a << " vs " << c.b;
}

TEST(TextHelpers, BoundedCopyAndAppend) {
    struct { char text[8]; char guard; } area;
    area.guard = 'G';
    EXPECT_TRUE(CopyText(area.text, sizeof area.text, "1234567"));
    EXPECT_STREQ(area.text, "1234567");
    EXPECT_FALSE(CopyText(area.text, sizeof area.text, "12345678"));
    EXPECT_EQ(area.guard, 'G');
    EXPECT_EQ(lstrlenA(area.text), 7);
    EXPECT_TRUE(CopyText(area.text, sizeof area.text, "abc"));
    EXPECT_TRUE(AppendText(area.text, sizeof area.text, "defg"));
    EXPECT_STREQ(area.text, "abcdefg");
    EXPECT_FALSE(AppendText(area.text, sizeof area.text, "h"));
    EXPECT_EQ(area.guard, 'G');
}
