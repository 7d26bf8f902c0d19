// A kernel handle closed when its owner goes out of scope, so every path through a function closes it once.
#pragma once

#include <windows.h>

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    ~OwnedHandle() {
        if (handle_ != nullptr)
            CloseHandle(handle_);
    }

    HANDLE Get() const { return handle_; }
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
