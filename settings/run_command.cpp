// The command line stored in the Run key for the log-on start.
#include "settings/run_command.h"

#include <stdio.h>
#include <string.h>

bool FormatRunCommand(const char *programPath, char *command, size_t size) {
    const bool quote = strchr(programPath, ' ') != nullptr;
    const int written = snprintf(command, size, quote ? "\"%s\"" : "%s", programPath);
    return written >= 0 && static_cast<size_t>(written) < size;
}
