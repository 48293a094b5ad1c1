// What the installation changes in the file system: the installation and
// program-group directories, the shortcut files and the copied files. Each
// action is logged (CreateDir, CreateFile) once it is done, so that a
// rollback or the uninstaller can undo it. Every failure shows one message.
#pragma once

// Creates the directory (its parent must exist) and logs it. An existing
// directory is logged as created only when the user agrees to use it.
bool CreateLoggedDirectory(const char* path);

// Creates StartMenuFolder\<groupName> (both expanded) and leaves its path in
// `directory` of `size` bytes.
bool CreateProgramGroup(const char* groupName, char* directory, int size);

// Saves <directory>\<name>.lnk (directory and name expanded) pointing at
// `target` (already expanded) with `arguments` and the description `name`
// as written; the working directory is the target's directory.
bool CreateShortcut(const char* directory, const char* name, const char* target, const char* arguments);

// The program group and one shortcut per LinkEntry, in table order.
bool CreateLinks();

// Copies every FileEntry, in table order, over any existing file.
bool CopyFiles();
