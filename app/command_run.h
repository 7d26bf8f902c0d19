// A run from the command line: a check or a set without a window, its texts to the standard output, an exit code.
#pragma once

#include "app/command_line.h"

// Runs any mode but kWindow and returns the process's exit code. Shows no window and writes no settings.
int RunCommandLine(const CommandLine &command);
