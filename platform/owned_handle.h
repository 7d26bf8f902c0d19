// A kernel handle closed when its owner goes out of scope, so every path through a function closes it once.
#pragma once

#include <windows.h>

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    ~OwnedHandle() { Close(); }

    HANDLE Get() const { return handle_; }
    // File functions say "no handle" with INVALID_HANDLE_VALUE, the others with null.
    bool IsOpen() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (IsOpen())
            CloseHandle(handle_);
        handle_ = nullptr;
    }
    void Reset(HANDLE handle) {
        Close();
        handle_ = handle;
    }
    // For a function that returns a new handle through its last argument; call it on an empty owner only.
    HANDLE *Out() { return &handle_; }
    // Hands the handle to the caller, who closes it.
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};
