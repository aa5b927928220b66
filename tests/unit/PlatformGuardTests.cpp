// The guard itself: scoped to its thread and its call, nested, and blind to
// C++ exceptions, which pass through it to their handler.
#include "registrar/PlatformGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vandrel {
namespace {

int* volatile g_nowhere = nullptr;

void Fault(void*) {
    *g_nowhere = 1;
}

void Throw(void*) {
    throw std::runtime_error("through the guard");
}

struct Nested {
    bool innerReturned = true;
    DWORD innerFault = 0;
    bool after = false;
};

void OuterCall(void* context) {
    auto& nested = *static_cast<Nested*>(context);
    nested.innerReturned = RunGuarded(Fault, nullptr, &nested.innerFault);
    nested.after = true;
}

TEST(PlatformGuard, AnInnerGuardTakesItsOwnFaultAndTheOuterCallGoesOn) {
    Nested nested;
    DWORD fault = 1;
    EXPECT_TRUE(RunGuarded(OuterCall, &nested, &fault));
    EXPECT_EQ(fault, 0u);
    EXPECT_FALSE(nested.innerReturned);
    EXPECT_EQ(nested.innerFault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(nested.after);
}

// Two threads in guards at once: one faults while the other is still inside
// its call, which must neither see the fault nor be resumed in its place.
struct Pair {
    HANDLE faulted;
    bool returned = false;
    DWORD fault = 1;
};

void WaitForTheOther(void* context) {
    ::WaitForSingleObject(static_cast<Pair*>(context)->faulted, 30000);
}

DWORD WINAPI Bystander(void* context) {
    auto& pair = *static_cast<Pair*>(context);
    pair.returned = RunGuarded(WaitForTheOther, &pair, &pair.fault);
    return 0;
}

TEST(PlatformGuard, AFaultOnOneThreadLeavesAnotherThreadsGuardAlone) {
    Pair pair;
    pair.faulted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(pair.faulted, nullptr);
    HANDLE thread = ::CreateThread(nullptr, 0, Bystander, &pair, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD fault = 0;
    EXPECT_FALSE(RunGuarded(Fault, nullptr, &fault));
    EXPECT_EQ(fault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    ::SetEvent(pair.faulted);
    ASSERT_EQ(::WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(pair.returned);
    EXPECT_EQ(pair.fault, 0u);
    ::CloseHandle(thread);
    ::CloseHandle(pair.faulted);
}

TEST(PlatformGuard, ACppExceptionPassesThroughAndTheGuardIsGoneAfterIt) {
    DWORD fault = 0;
    EXPECT_THROW(RunGuarded(Throw, nullptr, &fault), std::runtime_error);
    // Still one guard per call: the next fault is this call's.
    EXPECT_FALSE(RunGuarded(Fault, nullptr, &fault));
    EXPECT_EQ(fault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

} // namespace
} // namespace vandrel
