// The update flow that runs at every start: probe, download, check, offer, launch.
#pragma once

#include <windows.h>

// Thread entry; the parameter is the main window, which owns the update offer.
DWORD WINAPI UpdateTask(LPVOID ownerWindow);
