// The downloaded build held open from its download to its launch, so that nothing can change it in between.
#pragma once

#include <windows.h>

#include "platform/program_path.h"

// A guard that owns one file handle and the path it was opened by; going out of scope only closes the handle.
class HeldFile {
public:
    HeldFile() : handle(INVALID_HANDLE_VALUE), path() {}
    ~HeldFile() { Close(); }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    void Close() {
        if (IsOpen())
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

    HANDLE handle;
    wchar_t path[kPathSize];
};
