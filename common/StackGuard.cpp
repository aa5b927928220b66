// The stack protector's guard and failure entry, the program's own.
//
// GCC's versions (libssp) seed the guard in a constructor through the
// CryptoAPI, which loads rsaenh, crypt32 and bcrypt into every process: under
// Wine that doubles the start-up of an empty program. Defining the guard and
// both failure entries here keeps libssp's object out of the link (its
// fortified copies stay). The guard needs to differ between processes and be hard to guess from
// outside; a mix of clocks, ids and addresses gives that, as the platform's
// own compiler seeds its security cookie, from kernel32 alone.
#include <windows.h>

#include <cstdint>
#include <x86intrin.h>

namespace {

// What the guard holds until it is seeded, and instead of a zero seed.
constexpr uint64_t kUnseeded = 0x2b992ddfa23249d6ull;

// splitmix64's finaliser: every input bit reaches every output bit.
constexpr uint64_t Mix(uint64_t state, uint64_t input) {
    uint64_t z = state ^ input;
    z += 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

} // namespace

extern "C" {

uintptr_t __stack_chk_guard = static_cast<uintptr_t>(kUnseeded);

// Ends the process at once: nothing of it, not even its exception handlers,
// runs on a stack known to be overwritten.
[[noreturn]] __attribute__((no_stack_protector)) void __stack_chk_fail() {
    if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE))
        __asm__ volatile("int $0x29" ::"c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

// A fortified copy that would overrun its destination (_FORTIFY_SOURCE).
[[noreturn]] __attribute__((no_stack_protector)) void __chk_fail() {
    if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE))
        __asm__ volatile("int $0x29" ::"c"(FAST_FAIL_RANGE_CHECK_FAILURE) : "memory");
    ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

} // extern "C"

namespace {

// A TLS callback: the loader runs it on process attach, before the C runtime's
// start-up and so before any protected frame exists, which could not return
// once the guard has changed under it.
__attribute__((no_stack_protector)) void NTAPI SeedGuard(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH) return;
    FILETIME time;
    ::GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    uint64_t seed = Mix(kUnseeded, (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    seed = Mix(seed, static_cast<uint64_t>(counter.QuadPart));
    seed = Mix(seed, __rdtsc());
    seed = Mix(seed, (uint64_t{::GetCurrentProcessId()} << 32) | ::GetCurrentThreadId());
    // Where the stack and the image landed (address-space layout randomisation).
    seed = Mix(seed, reinterpret_cast<uintptr_t>(&time));
    seed = Mix(seed, reinterpret_cast<uintptr_t>(&SeedGuard));
    uintptr_t guard = static_cast<uintptr_t>(seed);
    if constexpr (sizeof guard < sizeof seed) guard ^= static_cast<uintptr_t>(seed >> 32);
    __stack_chk_guard = guard != 0 ? guard : static_cast<uintptr_t>(kUnseeded);
}

} // namespace

// After the C runtime's first entry (.CRT$XLA) and before its own callbacks.
extern "C" {
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK vandrel_seed_guard = SeedGuard;
}
