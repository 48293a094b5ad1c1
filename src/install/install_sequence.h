// The whole run of install mode.
#pragma once

// Loads setup.ini, asks, shows the dialogs and runs the stages; on any
// failure undoes what was logged. True only when every stage succeeded and
// the completion was shown.
bool RunInstall();

// Loads setup.ini, checks and expands the device name and appends the
// automatic entries: everything before the first question.
bool PrepareScript();
