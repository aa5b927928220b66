// The run-once flag and the mutexes that the C++ runtime uses (the unwinder,
// the emergency exception pool), as winpthreads declares them, over kernel32:
// winpthreads' own versions link its thread layer (about 3 KB, and on i686
// the unwinder's run-once flag brings all of it, about 25 KB). Linked into
// Vandrel.exe only: a program with threads of its own (a test's helper) uses
// winpthreads, and its definitions would clash with these.
#include <windows.h>

#include <cstdint>

namespace {

// winpthreads' mutex is one pointer-sized word, -1 while statically
// initialised (PTHREAD_MUTEX_INITIALIZER, all the runtime uses): here it
// becomes a slim lock, whose unlocked state is 0, on first use.
PSRWLOCK AsLock(intptr_t* mutex) {
    intptr_t initialiser = -1;
    __atomic_compare_exchange_n(mutex, &initialiser, 0, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    return reinterpret_cast<PSRWLOCK>(mutex);
}

} // namespace

extern "C" {

// winpthreads' once-flag is a long, 0 until the routine runs: 1 while it
// runs, 2 after.
int pthread_once(volatile long* once, void (*routine)()) {
    if (__atomic_load_n(once, __ATOMIC_ACQUIRE) == 2) return 0;
    long expected = 0;
    if (__atomic_compare_exchange_n(once, &expected, 1, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
        routine();
        __atomic_store_n(once, 2, __ATOMIC_RELEASE);
        return 0;
    }
    while (__atomic_load_n(once, __ATOMIC_ACQUIRE) != 2)
        ::SwitchToThread();
    return 0;
}

int pthread_mutex_init(intptr_t* mutex, const void*) {
    *mutex = 0;
    return 0;
}

int pthread_mutex_destroy(intptr_t*) {
    return 0;
}

int pthread_mutex_lock(intptr_t* mutex) {
    ::AcquireSRWLockExclusive(AsLock(mutex));
    return 0;
}

int pthread_mutex_unlock(intptr_t* mutex) {
    ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(mutex));
    return 0;
}

} // extern "C"
