#include "install/install_sequence.h"

#include "common/messages.h"

// The installer's stages are not part of this build yet.
bool RunInstall() {
    ReportError("Install mode is not built yet");
    return false;
}
