// The guard itself: scoped to its thread and its call, nested, blind to C++
// exceptions, which pass through it to their handler, and to faults the
// platform catches itself.
#include "registrar/FaultGuard.h"

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

TEST(FaultGuard, AnInnerGuardTakesItsOwnFaultAndTheOuterCallGoesOn) {
    Nested nested;
    DWORD fault = 1;
    EXPECT_TRUE(RunGuarded(OuterCall, &nested, &fault));
    EXPECT_EQ(fault, 0u);
    EXPECT_FALSE(nested.innerReturned);
    EXPECT_EQ(nested.innerFault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(nested.after);
}

// Two threads in guards at once: one faults while the other is inside its
// call, which must neither see the fault nor be resumed in its place.
struct Pair {
    HANDLE inside;
    HANDLE faulted;
    bool returned = false;
    DWORD fault = 1;
};

void WaitForTheOther(void* context) {
    auto& pair = *static_cast<Pair*>(context);
    ::SetEvent(pair.inside);
    ::WaitForSingleObject(pair.faulted, 30000);
}

DWORD WINAPI Bystander(void* context) {
    auto& pair = *static_cast<Pair*>(context);
    pair.returned = RunGuarded(WaitForTheOther, &pair, &pair.fault);
    return 0;
}

TEST(FaultGuard, AFaultOnOneThreadLeavesAnotherThreadsGuardAlone) {
    Pair pair;
    pair.inside = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    pair.faulted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(pair.inside, nullptr);
    ASSERT_NE(pair.faulted, nullptr);
    HANDLE thread = ::CreateThread(nullptr, 0, Bystander, &pair, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(pair.inside, 30000), WAIT_OBJECT_0);
    DWORD fault = 0;
    EXPECT_FALSE(RunGuarded(Fault, nullptr, &fault));
    EXPECT_EQ(fault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    ::SetEvent(pair.faulted);
    ASSERT_EQ(::WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(pair.returned);
    EXPECT_EQ(pair.fault, 0u);
    ::CloseHandle(thread);
    ::CloseHandle(pair.inside);
    ::CloseHandle(pair.faulted);
}

// A throw out of an inner guard, caught inside the outer call, then a fault:
// the fault is the outer call's. A guard that kept pointing at the thrown-
// through frame would resume into a frame that is gone.
struct AfterThrow {
    bool caught = false;
    volatile bool faultedOn = false;
};

void ThrowThenFault(void* context) {
    auto& state = *static_cast<AfterThrow*>(context);
    try {
        DWORD fault = 0;
        RunGuarded(Throw, nullptr, &fault);
    } catch (const std::runtime_error&) {
        state.caught = true;
    }
    state.faultedOn = true;
    Fault(nullptr);
    state.faultedOn = false;
}

TEST(FaultGuard, ACppExceptionPassesThroughAndTheGuardIsGoneAfterIt) {
    DWORD fault = 0;
    EXPECT_THROW(RunGuarded(Throw, nullptr, &fault), std::runtime_error);
    AfterThrow state;
    EXPECT_FALSE(RunGuarded(ThrowThenFault, &state, &fault));
    EXPECT_TRUE(state.caught);
    EXPECT_TRUE(state.faultedOn);
    EXPECT_EQ(fault, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

// The platform's own probes catch the faults they cause; inside a guard they
// still answer as they would outside one.
struct Probe {
    BOOL badRead = FALSE;
    BOOL badWrite = FALSE;
};

void ProbeNowhere(void* context) {
    auto& probe = *static_cast<Probe*>(context);
    probe.badRead = ::IsBadReadPtr(reinterpret_cast<void*>(16), 4);
    probe.badWrite = ::IsBadWritePtr(reinterpret_cast<void*>(16), 4);
}

TEST(FaultGuard, AFaultThePlatformCatchesItselfStaysThePlatforms) {
    Probe probe;
    DWORD fault = 1;
    EXPECT_TRUE(RunGuarded(ProbeNowhere, &probe, &fault));
    EXPECT_EQ(fault, 0u);
    EXPECT_TRUE(probe.badRead);
    EXPECT_TRUE(probe.badWrite);
}

} // namespace
} // namespace vandrel
