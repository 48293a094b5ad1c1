// The matcher of the program's texts, and the proof that it can fail: the
// mutation tests are only as strict as it is.
#include "reliability/program_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Every text of the program's message boxes but its questions, and the
// file-in-use question of a replay: the other questions need an answer that
// no mutation test gives.
const char* const ProgramFormats[] = {
    // common
    "Cannot allocate %u bytes of memory (%s)",
    "Cannot reallocate block %X to %u bytes (%s)",
    "Text is too long after expansion: %s",
    // start-up
    "Invalid command line switch \"%c\"",
    "Invalid command line \"%s\"",
    "Cannot initialize COM (%s)",
    "OS versions before 4.0 are not supported (%s)",
    "OS versions before 4.0 are not supported",
    "Cannot get process module name (%s)",
    "Cannot get current directory path (%s)",
    // script
    "Section name %s is too long",
    "Duplicate key %s",
    "Key %s must be present",
    "%s section has more than %u entries",
    "Value of key %s in section %s is longer than %u characters",
    "Cannot open file %s (%s)",
    // log and replay
    "Cannot get size of %s file (%s)",
    "Cannot read %u bytes from %s file (%s)",
    "Cannot add a line longer than %u characters to the installation log: %s",
    "Unknown event %d",
    "The argument of the %s event is too long (%u characters, at most %u fit)",
    "Cannot create %s file (%s)",
    "Cannot write %u bytes to %s file (%s)",
    "Cannot delete directory %s (%s)",
    "Cannot delete file %s (%s)",
    "Cannot queue %s to delete (%s)",
    "Unknown event %s",
    // registry
    "Cannot get Windows directory (%s)",
    "Cannot open registry key \"%s\" (%s)",
    "Registry value \"%s\" hasn't string type",
    "Cannot query registry value \"%s\" (%s)",
    "Cannot delete key %s (%s)",
    // install
    "Cannot create dialog (%s)",
    "Cannot init dialog",
    "The text is too long (at most %u characters are allowed)",
    "Device INF file name not specified",
    "Warning: cannot start \"%s\" (%s)",
    "Installation complete.",
    "Cannot copy %s to %s (%s)",
    "Cannot create directory \"%s\" (%s)",
    "Cannot save shortcut file (%s)",
    // device
    "Space in the \"%s\" is not allowed",
    "Invalid device type \"%s\"",
    "No device type specified",
    "Syntax error in installable driver string",
    "Cannot load 16-bit module %s (%u)",
    "Cannot get address of %s (%s)",
    "Cannot get KERNEL32 handle (%s)",
    "Cannot get system directory (%s)",
    "Driver module path is too long (%S\\%s)",
    "Cannot open driver module %S",
    "Driver failed processing message 0x%X (code 0x%X)",
    "No driver section found",
    "Installable driver string is too long",
    "Cannot find free %s entry in %s",
    "Device type text \"%s\" is too long for the installation log",
    "Device name in the INF file is not \"%s\"",
    "Device name is too long (%d characters, at most %d): %s",
    "Device INF file (%s) not found (%s)",
    "Cannot get short path for %s (%s)",
    "Device not installed",
    "Device name and INF file path do not fit the %d bytes of arguments of the 16-bit device manager",
    // distribution check
    "No file entry copies %s",
    // uninstall
    "Cannot add %s to the [%s] section of %s: the section is full",
    "Cannot create %s%s%s (%s)",
    "Cannot get temporary dir (%s)",
    "Cannot create %s (%s)",
    "Cannot create a temporary file in %s: all names TMP0000.%s to TMP7FFF.%s exist",
    "Cannot restart Windows automatically. Please do it manually.",
    "Installation directory path is too long: %s",
    "Cannot copy setup file to %s (%s)",
    "Cannot write text to %s (%s)",
    "Cannot get command interpreter path (%s)",
    "Cannot start fork process (%s)",
    "Cannot get answer from EXE copy",
    "Error waiting for event (%s)",
    "No %s event in %s file",
    "Cannot set sync event (%s)",
    "Cannot connect to primary process (%s)",
    "Uninstallation complete.",
    "Cannot %s sync event (%s)",
    "The file \"%s\" being deleted is currently in use. If there are active applications, they may use this "
    "file and prevent it to be deleted. You can close some applications and retry delete operation.\n\n"
    "If all product files will be successfully deleted, no restart is required. Otherwise, Windows must be "
    "restarted to complete uninstalling.\n\nRetry delete operation?",
};

// The longest text a reported message keeps.
const size_t ReportedTextLimit = 255;

// Length of the conversion at `format` (a '%' not followed by another):
// flags, width, a size letter and the type letter.
size_t ConversionLength(const char* format) {
    size_t length = 1 + strspn(format + 1, "-#0123456789");
    if (format[length] == 'l' || format[length] == 'h')
        length++;
    return format[length] ? length + 1 : length;
}

// `text` against `format`, each conversion standing for any text and "%%"
// for '%'; with `cut` the text may end anywhere inside the format.
bool Matches(const char* text, const char* format, bool cut) {
    if (format[0] == '%' && format[1] != '%') {
        const char* rest = format + ConversionLength(format);
        for (;; text++) {
            if (Matches(text, rest, cut))
                return true;
            if (!*text)
                return false;
        }
    }
    if (!*text)
        return !*format || cut;
    return *format && *text == *format && Matches(text + 1, format + (*format == '%' ? 2 : 1), cut);
}

}  // namespace

bool IsProgramText(const std::string& text) {
    bool cut = text.size() == ReportedTextLimit;
    for (const char* format : ProgramFormats) {
        if (Matches(text.c_str(), format, cut))
            return true;
    }
    return false;
}

std::string ForeignTexts(const std::vector<RecordedBox>& boxes) {
    std::string foreign;
    for (const RecordedBox& box : boxes) {
        if (!IsProgramText(box.Text))
            foreign += "\"" + box.Text + "\"\n";
    }
    return foreign;
}

namespace {

TEST(ProgramTextsTest, TellsTheProgramsTextsFromOthers) {
    const std::string longPath(300, 'p');
    const struct {
        std::string Text;
        bool Expected;
    } cases[] = {
        {"Duplicate key AppName", true},
        {"Key  must be present", true},
        {"Files.NT section has more than 40 entries", true},
        {"Invalid device type \"wave mixer\"", true},
        {"Driver failed processing message 0x80A (code 0x1)", true},
        {("Cannot delete file " + longPath + " (0/5 - Access denied.)").substr(0, 255), true},
        {("Cannot delete file " + longPath).substr(0, 254), false},
        {"Duplicated key AppName", false},
        {"Duplicate key", false},
        {"Syntax error in installable driver string!", false},
        {"", false},
        {"Setup failed", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsProgramText(c.Text), c.Expected) << c.Text;
}

}  // namespace
