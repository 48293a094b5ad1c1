#include "common/files.h"

#include "common/messages.h"
#include "common/setup_state.h"

bool CopyWritableFile(const char* source, const char* destination) {
    if (!CopyFileA(source, destination, FALSE))
        return false;
    DWORD attributes = GetFileAttributesA(destination);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return !(attributes & FILE_ATTRIBUTE_READONLY) ||
           SetFileAttributesA(destination, attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool GetShortForm(const char* path, char* buffer) {
    char shortPath[PathBufferSize];
    return TextFits(GetShortPathNameA(path, shortPath, sizeof shortPath), sizeof shortPath) &&
           CopyText(buffer, PathBufferSize, shortPath);
}
