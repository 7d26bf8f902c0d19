// Starting a background task on a thread of its own: every wait, exchange and clock change runs on one.
#pragma once

#include <windows.h>

// Starts `task` with `parameter` on a new thread that nobody waits for; false when no thread could be made.
bool StartTask(LPTHREAD_START_ROUTINE task, LPVOID parameter);
