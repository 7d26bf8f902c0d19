// Starting a background task on a thread of its own: every wait, exchange and clock change runs on one.
#include "app/start_task.h"

bool StartTask(LPTHREAD_START_ROUTINE task, LPVOID parameter) {
    const HANDLE thread = CreateThread(nullptr, 0, task, parameter, 0, nullptr);
    if (thread == nullptr)
        return false;
    CloseHandle(thread);
    return true;
}
