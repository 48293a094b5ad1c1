// Undoing logged actions: the rollback of a failed install and both stages of
// the uninstall walk a log text from its last line to its first.
#pragma once

#include "log/install_log.h"

// Undoes every event of `text` that `mask` selects, last line first. The text
// is consumed: it is cut into lines with NULs and left empty. Comment lines
// (";") and empty lines are skipped. False when at least one selected line
// had an event word without an undo action; true otherwise and for null.
bool ReplayLog(char* text, EventMask mask);
