// Undoing logged actions: the rollback of a failed install and both stages of
// the uninstall walk a log text from its last line to its first.
#pragma once

#include "log/install_log.h"

// Undoes every event of `text` that `mask` selects, last line first. The text
// is consumed: it is cut into lines with NULs and left empty. Comment lines
// (";") and empty lines are skipped. False when at least one selected line
// had an event word without an undo action; true otherwise and for null.
bool ReplayLog(char* text, EventMask mask);

// Undoes one line (NUL-ended, no line end): "<event word> <argument>". The
// line is cut at its first blank. Failed undo actions are reported and still
// count as done; false only for a selected word without an undo action.
bool UndoEvent(char* line, EventMask mask);

// Splits the argument of an InstallDevice line at its first blank: the type
// text before it, the device name (further blanks kept) after it. Without a
// blank the whole argument is the type text and the device name is empty.
void SplitDeviceArgument(char* argument, const char** typeText, const char** deviceName);
