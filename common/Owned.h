// Move-only owners for platform handles and COM pointers. One template makes
// every kind; copying is impossible, so nothing can be released twice. Traits
// say what "nothing" is and how a value is given back; where the value came
// from a replaceable platform table, the traits give it back through the same
// table (so tests can count what is left behind).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <type_traits>
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
    T operator->() const requires std::is_pointer_v<T> { return value_; }
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
template <typename I> struct ComTraits {
    static I* invalid() { return nullptr; }
    static void close(I* p) { p->Release(); }
};

using OwnedHandle = Owned<HANDLE, NullTraits<HANDLE, ::CloseHandle>>;
using OwnedFile = Owned<HANDLE, FileTraits>;
using OwnedWindow = Owned<HWND, NullTraits<HWND, ::DestroyWindow>>;
using OwnedFont = Owned<HFONT, NullTraits<HFONT, ::DeleteObject>>;
using OwnedModule = Owned<HMODULE, NullTraits<HMODULE, ::FreeLibrary>>;
// Never a predefined key (HKEY_LOCAL_MACHINE and the like): only opened ones.
using OwnedKey = Owned<HKEY, NullTraits<HKEY, ::RegCloseKey>>;
// A COM interface pointer released exactly once.
template <typename I> using ComPtr = Owned<I*, ComTraits<I>>;

} // namespace vandrel
