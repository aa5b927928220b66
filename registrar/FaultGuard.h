// Runs a platform call so that a hardware exception raised inside it (a
// damaged library makes the Automation library read through nonsense) ends
// the call instead of the process.
//
// A handler on the guard's own stack frame resumes the guarding thread where
// it entered the guard. Being a frame handler, it sees a fault only after
// every handler the platform put between the guard and the fault has passed
// on it: a fault the platform catches and survives by itself stays the
// platform's. Nothing inside the call is unwound: no C++ object with a
// destructor may live between the guard and the faulting code, so whatever
// the call obtains goes to storage the caller owns and releases afterwards.
// Exceptions on other threads, exceptions outside a guard and software
// exceptions (C++ exceptions among them) pass on untouched.
#pragma once

#include <windows.h>

namespace vandrel {

using GuardedCall = void (*)(void* context);

// True when call(context) returned. False when a hardware exception ended it
// (its code in *fault) or when no guard could be set up (*fault is 0, and
// the call was not made). Guards nest; each thread has its own.
bool RunGuarded(GuardedCall call, void* context, DWORD* fault);

// The exception codes a guard turns into a failed call.
bool IsHardwareFault(DWORD code);

} // namespace vandrel
