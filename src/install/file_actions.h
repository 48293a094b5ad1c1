// What the installation changes in the file system: the installation and
// program-group directories, the shortcut files and the copied files. Each
// action is logged (CreateDir, CreateFile), so that a rollback or the
// uninstaller can undo it. Every failure shows one message.
#pragma once

#include "common/setup_state.h"

// Creates the directory (its parent must exist) and logs it. An existing
// directory is logged as created only when the user agrees to use it.
bool CreateLoggedDirectory(const char* path);

// StartMenuFolder\<groupName> (both expanded) in `directory` of `size` bytes.
bool ProgramGroupPath(const char* groupName, char* directory, int size);

// The program group and one shortcut per LinkEntry, in table order.
bool CreateLinks();

// The source and the destination path of a file entry as the copy uses
// them, each in a buffer of PathBufferSize; a path that does not fit is
// reported.
bool ResolveFileEntry(const FileEntry& entry, char* source, char* destination);

// <directory>\<name>.lnk (directory and name expanded) in `path` of
// PathBufferSize; a path that does not fit is reported.
bool ShortcutPath(char* path, const char* directory, const char* name);

// Whether the path lies inside the installation directory (in any letter
// case), in a folder of it included.
bool IsInInstallDir(const char* path);

// Copies every FileEntry, in table order. A file that is new is logged (and
// the log saved) before its copy. An existing file whose version is newer
// than the source's is kept; any other is overwritten, and logged after it
// only inside the installation directory.
bool CopyFiles();
