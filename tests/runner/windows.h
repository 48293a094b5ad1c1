// The windows of a run's processes, worked through the robot as a user
// would: each box or dialog expected, answered or left up, the progress
// notice, screenshots, and the end of the run. An unexpected window ends it.
#pragma once

#include "runner/runner.h"

// Until the run's processes end; a window is unexpected (a progress notice too if `noWindowAtAll`).
bool Settle(Run& run, bool noWindowAtAll = false);

// "box", "license" and "directories"; "answer", "exit", "progress", "no-window".
bool ExpectWindow(Run& run, Args);
bool AnswerOpenBox(Run& run, Args f);
bool ExpectExit(Run& run, Args f);
bool CheckProgress(Run& run, Args f);
bool ExpectNoWindow(Run& run, Args);
