// The log-on start: a scheduled task that runs the program with the highest privileges when the user logs on.
#pragma once

// Registers (mode 1) or removes (mode 0) the running user's log-on start, and removes the Run value that an earlier
// build left; returns 1 when the task is as asked, 0 otherwise. Registering is refused unless only administrators
// can change the program (see program_guard.h).
int SetAutoRun(int mode);

// The Task Scheduler's part alone, for the running user's task, named "Tempvaro-" and the user's SID. Registering
// deletes any task of that name and makes it anew with its own descriptor (logon_task_xml.h); removing a task that is
// not there succeeds. Both also remove this user's task of the fixed name "Tempvaro" that earlier builds registered.
bool RegisterLogonTask(const wchar_t *programPath);
bool RemoveLogonTask();

// Removes the running user's tasks, under either name, that definitely may not stay: one that runs as another user,
// that someone but administrators may change, or whose program the guard refuses by its own final path (see
// program_guard.h). A task whose reading is not definite stays. False when the library could not be read, a task's
// reading was not definite or a task not deleted; otherwise `registered` says whether one of the user's tasks remains.
bool RemoveRefusedLogonTasks(bool &registered);
