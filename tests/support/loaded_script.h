// Frees what a load of setup.ini stored in the setup state, so that the next
// case of a test starts from nothing.
#pragma once

#include "common/setup_state.h"

// Frees the three strings of the first `*count` records and sets the count to 0.
void ReleaseEntries(EntryRecord* table, int* count);

// Frees the Main values, the device type text and the entries of `files` and
// `links` (counted by FileCount and LinkCount), leaving them all empty.
void ReleaseLoadedScript(EntryRecord* files, EntryRecord* links);

// Points the setup state at the test's tables, both empty.
void UseEntryTables(EntryRecord* files, EntryRecord* links);
// ReleaseLoadedScript, then the state lets go of the tables and of WorkDir.
void FinishWithScript(EntryRecord* files, EntryRecord* links);
