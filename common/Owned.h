// Move-only owners for platform handles and COM pointers. One template makes
// every kind; copying is impossible, so nothing can be released twice.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace vandrel {

// Traits: `static T invalid()` and `static void close(T)`.
template <typename T, typename Traits> class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    T release() { return std::exchange(value_, Traits::invalid()); }
    void reset(T value = Traits::invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For out-parameters: releases what is held and hands out the slot.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::invalid();
};

template <typename T, auto Close> struct NullTraits {
    static T invalid() { return T{}; }
    static void close(T value) { Close(value); }
};
struct FileTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};

using OwnedHandle = Owned<HANDLE, NullTraits<HANDLE, ::CloseHandle>>;
using OwnedFile = Owned<HANDLE, FileTraits>;
using OwnedLocal = Owned<HLOCAL, NullTraits<HLOCAL, ::LocalFree>>;
using OwnedGlobal = Owned<HGLOBAL, NullTraits<HGLOBAL, ::GlobalFree>>;
using OwnedWindow = Owned<HWND, NullTraits<HWND, ::DestroyWindow>>;
using OwnedDC = Owned<HDC, NullTraits<HDC, ::DeleteDC>>;
using OwnedModule = Owned<HMODULE, NullTraits<HMODULE, ::FreeLibrary>>;
// Never a predefined key (HKEY_LOCAL_MACHINE and the like): only opened ones.
using OwnedKey = Owned<HKEY, NullTraits<HKEY, ::RegCloseKey>>;

// A COM interface pointer released exactly once.
template <typename I> class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(I* p) : p_(p) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComPtr() { reset(); }

    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset(I* p = nullptr) {
        I* old = std::exchange(p_, p);
        if (old) old->Release();
    }
    I** put() {
        reset();
        return &p_;
    }

private:
    I* p_ = nullptr;
};

// Keeps a global block locked for one scope.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h ? ::GlobalLock(h) : nullptr) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() {
        if (p_) ::GlobalUnlock(h_);
    }
    void* get() const { return p_; }

private:
    HGLOBAL h_;
    void* p_;
};

} // namespace vandrel
