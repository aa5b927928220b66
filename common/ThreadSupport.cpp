// The C++ runtime's thread support, the program's own: the guard of
// function-local statics (__cxa_guard_*) and each thread's exception record
// (__cxa_get_globals). common/RuntimeLocks.cpp has the rest.
//
// The library's versions reach them through the POSIX thread layer and
// emulated thread-local storage, which link most of winpthreads (about 20 KB
// of an executable). Kernel32's slim locks, condition variables and TLS slots
// do the same. The compiler tests a guard's first byte before it calls in, so
// only a first use of a static, or a use racing one, comes here.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_finished = CONDITION_VARIABLE_INIT;

// The first byte says "initialised" (the compiler reads it); the second
// that a thread is initialising the object now.
struct GuardBytes {
    explicit GuardBytes(int64_t* guard) : bytes(reinterpret_cast<unsigned char*>(guard)) {}
    bool Done() const { return __atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0; }
    unsigned char* bytes;
};

// The Itanium ABI's per-thread record of the exceptions being handled.
struct ExceptionGlobals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

DWORD g_slot = TLS_OUT_OF_INDEXES;

// A TLS callback: the slot exists before any code of the program runs, and a
// thread's record goes with the thread.
void NTAPI ThreadRecords(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_slot = ::TlsAlloc();
    if (reason != DLL_THREAD_DETACH || g_slot == TLS_OUT_OF_INDEXES) return;
    if (void* record = ::TlsGetValue(g_slot)) ::HeapFree(::GetProcessHeap(), 0, record);
}

} // namespace

extern "C" {

__attribute__((section(".CRT$XLC"), used)) PIMAGE_TLS_CALLBACK vandrel_thread_records =
    ThreadRecords;

// 1: the caller initialises the object now. 0: it was initialised already,
// perhaps by another thread while this one waited.
int __cxa_guard_acquire(int64_t* guard) {
    GuardBytes g(guard);
    if (g.Done()) return 0;
    ::AcquireSRWLockExclusive(&g_lock);
    while (g.bytes[1] != 0)
        ::SleepConditionVariableSRW(&g_finished, &g_lock, INFINITE, 0);
    const bool done = g.Done();
    if (!done) g.bytes[1] = 1;
    ::ReleaseSRWLockExclusive(&g_lock);
    return done ? 0 : 1;
}

void __cxa_guard_release(int64_t* guard) {
    GuardBytes g(guard);
    ::AcquireSRWLockExclusive(&g_lock);
    __atomic_store_n(&g.bytes[0], 1, __ATOMIC_RELEASE);
    g.bytes[1] = 0;
    ::ReleaseSRWLockExclusive(&g_lock);
    ::WakeAllConditionVariable(&g_finished);
}

// The initialiser threw: the next use tries again.
void __cxa_guard_abort(int64_t* guard) {
    GuardBytes g(guard);
    ::AcquireSRWLockExclusive(&g_lock);
    g.bytes[1] = 0;
    ::ReleaseSRWLockExclusive(&g_lock);
    ::WakeAllConditionVariable(&g_finished);
}

// Without its record a thread cannot throw: the library aborts there too.
ExceptionGlobals* __cxa_get_globals() noexcept {
    if (auto* record = static_cast<ExceptionGlobals*>(::TlsGetValue(g_slot))) return record;
    auto* record = static_cast<ExceptionGlobals*>(
        ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionGlobals)));
    if (!record || !::TlsSetValue(g_slot, record)) std::abort();
    return record;
}

ExceptionGlobals* __cxa_get_globals_fast() noexcept {
    return __cxa_get_globals();
}

} // extern "C"
