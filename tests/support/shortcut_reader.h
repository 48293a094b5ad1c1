// Reads a shortcut (.lnk) file back through the shell's shortcut object.
#pragma once

#include <optional>
#include <ostream>
#include <string>

// What a shortcut file says.
struct ShortcutFields {
    std::string Target;
    std::string Arguments;
    std::string WorkingDirectory;
    std::string Description;
};
bool operator==(const ShortcutFields& a, const ShortcutFields& b);
std::ostream& operator<<(std::ostream& out, const ShortcutFields& fields);

// Read through the shell's shortcut object of this prefix; nothing when the
// file cannot be loaded.
std::optional<ShortcutFields> ReadShortcutWithShell(const std::string& path);
