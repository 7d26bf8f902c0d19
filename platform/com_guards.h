// COM on a thread, and COM interfaces released when their owner goes out of scope.
#pragma once

#include <objbase.h>

// COM on this thread while the object lives. Apartment-threaded, as a window's thread and the shell's functions need;
// a thread that already uses the other model can still make the calls, but is not ours to uninitialise.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }

    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// A COM interface released when its owner goes out of scope.
template <typename Interface> class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() {
        if (pointer_ != nullptr)
            pointer_->Release();
    }

    Interface *Get() const { return pointer_; }
    Interface *operator->() const { return pointer_; }
    Interface **Out() { return &pointer_; }
    void **OutVoid() { return reinterpret_cast<void **>(&pointer_); }

private:
    Interface *pointer_ = nullptr;
};
