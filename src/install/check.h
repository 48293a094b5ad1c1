// The distribution check (setup.exe -t): the installer's own steps up to the
// first change, run once as the NT family and once as the 9x family would
// run them, with every message they would show collected into one report.
#pragma once

// Checks the distribution in WorkDir, creating and writing nothing. The
// report (one line per problem, then "N errors, M warnings") goes to the
// caller's standard output when there is one, and into one box. True when
// no error was found; warnings do not count.
bool RunCheck();
