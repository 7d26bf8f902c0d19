// The update flow that runs at every start: probe, download, check, offer, launch.
#pragma once

#include <windows.h>

DWORD WINAPI UpdateTask(LPVOID parameter);
