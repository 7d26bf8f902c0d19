// The downloaded build held open from its download to its launch, so that nothing can change it in between.
#pragma once

#include "platform/owned_handle.h"
#include "platform/program_path.h"

// The file's handle and the path it was opened by; going out of scope only closes the handle.
class HeldFile {
public:
    bool IsOpen() const { return file.IsOpen(); }
    void Close() { file.Close(); }

    OwnedHandle file;
    wchar_t path[kPathSize] = {};
};
