// The log-on start: a scheduled task that runs the program with the highest privileges when the user logs on.
#pragma once

// Registers (mode 1) or removes (mode 0) the log-on start, and removes a Run value that an earlier build left;
// returns 1 on success, 0 on failure. Registering is refused when the user could change the program file or its
// folder without administrator rights.
int SetAutoRun(int mode);

// The Task Scheduler's part alone. Registering replaces an earlier task; removing a task that is not there succeeds.
bool RegisterLogonTask(const wchar_t *programPath);
bool RemoveLogonTask();

// The task's name in the Task Scheduler library.
extern const wchar_t kLogonTaskName[];
