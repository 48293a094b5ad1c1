// The whole run of install mode.
#pragma once

// True only when every stage succeeded and the completion was shown.
bool RunInstall();
