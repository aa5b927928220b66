// The program's own stack guard (common/StackGuard.cpp), which every
// executable of the build links, seen from child runs of this test program.
#include "driver/Driver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

extern "C" uintptr_t __stack_chk_guard;

namespace {

constexpr wchar_t kChildSwitch[] = L"--stack-guard-child=";
constexpr DWORD kGuardDiffers = 10, kGuardSame = 11, kGuardZero = 12, kSurvived = 13;

// The texts are read through volatile pointers, so that the compiler cannot
// see the overruns coming and refuse to build them.
const char* volatile kLong = "a line far longer than the eight bytes it is copied to";
const char* volatile kFifteen = "fifteen letters";

// Past the end of a stack array, through a loop that no fortified copy sees.
__attribute__((noinline)) void OverrunStack(const char* text) {
    char buffer[8];
    for (size_t i = 0; text[i] != '\0'; ++i)
        buffer[i] = text[i];
    __asm__ volatile("" ::"r"(buffer) : "memory"); // the stores are not dead
}

struct Record {
    char name[8];
    char rest[56];
};

// Stays inside the record, so only the fortified copy can notice.
__attribute__((noinline)) void OverrunField(Record& record, const char* text) {
    std::strcpy(record.name, text);
}

DWORD RunChild(const std::wstring& mode) {
    if (mode.rfind(L"guard:", 0) == 0) {
        const uintptr_t parent = std::wcstoull(mode.c_str() + 6, nullptr, 16);
        if (__stack_chk_guard == 0) return kGuardZero;
        return __stack_chk_guard == parent ? kGuardSame : kGuardDiffers;
    }
    if (mode == L"stack") OverrunStack(kLong);
    Record record{};
    if (mode == L"copy") OverrunField(record, kFifteen);
    return kSurvived;
}

// A child run does its one thing and ends before any test starts.
[[maybe_unused]] const bool kIsChild = [] {
    const wchar_t* found = std::wcsstr(::GetCommandLineW(), kChildSwitch);
    if (found) ::ExitProcess(RunChild(found + std::wcslen(kChildSwitch)));
    return false;
}();

std::string Hex(DWORD status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
    return text;
}

DWORD RunSelf(const std::wstring& mode) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return vandrel::test::Run(self, kChildSwitch + mode);
}

TEST(StackGuard, IsNeverZeroAndDiffersBetweenProcesses) {
    ASSERT_NE(__stack_chk_guard, 0u);
    wchar_t mode[32];
    std::swprintf(mode, 32, L"guard:%llx", static_cast<unsigned long long>(__stack_chk_guard));
    for (int run = 1; run <= 2; ++run)
        EXPECT_EQ(RunSelf(mode), kGuardDiffers) << "child run " << run << " (" << kGuardSame
                                                << ": the same guard, " << kGuardZero << ": zero)";
}

TEST(StackGuard, AnOverrunEndsTheProcessAtOnceWithTheOverrunStatus) {
    const struct {
        const wchar_t* mode;
        const char* what;
    } cases[] = {
        {L"stack", "a stack array written past its end (stack protector)"},
        {L"copy", "a fortified copy past the end of a field (_FORTIFY_SOURCE)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(RunSelf(c.mode)), Hex(STATUS_STACK_BUFFER_OVERRUN)) << c.what;
}

} // namespace
