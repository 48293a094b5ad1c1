// Unattended runs (-s): no window at all. Every message box is written to
// SETUP.LOG in the temporary directory (and to standard output when the
// caller redirected it) and answered as the user would most likely answer:
// the default button, but Yes to the confirmations and No to the retry for a
// file in use.
#pragma once

// Takes "-s" and, behind it, "-d <directory>" off the argument text and
// returns what the ordinary command line is to be read from. Without "-s"
// the text is returned as it is and the run is interactive. Null when there
// is no temporary directory for SETUP.LOG (reported).
const char* TakeUnattendedSwitches(const char* arguments);

// The exit code of an unattended run, also written to SETUP.LOG: 1 when the
// mode failed, 3010 when it succeeded but files wait for deletion at the
// next restart or the device asked for one, 1 when it went on past a
// reported error, else 0.
int UnattendedExitCode(bool succeeded);
