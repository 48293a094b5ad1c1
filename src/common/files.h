// Small file operations that the installer and the uninstaller share.
#pragma once

#include <windows.h>

// Copies `source` over `destination` and leaves the copy writable. CopyFileA
// gives the copy the source's attributes, and a file copied from a CD or a
// write-protected share would stay read-only: no uninstall could delete it,
// no later installation replace it. False, with the last error telling why,
// when either step fails.
bool CopyWritableFile(const char* source, const char* destination);

// The short (8.3) form of an existing file or folder into `buffer` of
// PathBufferSize bytes, which may be `path` itself; false (the buffer
// unchanged) when there is none or it does not fit.
bool GetShortForm(const char* path, char* buffer);
