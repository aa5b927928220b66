#include "registrar/PlatformGuard.h"

#include <float.h>

// The guard resumes here a second time after a fault, like setjmp: the
// compiler must not keep anything in registers across it.
extern "C" __attribute__((returns_twice)) NTSYSAPI VOID NTAPI RtlCaptureContext(PCONTEXT context);

namespace vandrel {
namespace {

// One guard on one thread. Read after the resumption only through volatile
// accesses: registers hold what they held when the context was captured.
struct Frame {
#ifdef __i386__
    // The 32-bit RtlCaptureContext captures its caller's caller, so the
    // guard keeps the few registers a resumption needs itself.
    struct {
        DWORD ebx, esi, edi, ebp, esp, eip;
    } resume;
    // i686 keeps its frame handlers in a list on the stack; the platform's
    // own, below the guard, are gone after the resumption.
    void* handlers;
#else
    CONTEXT resume;
#endif
    volatile LONG armed;
    volatile DWORD fault;
    Frame* outer;
};

// The thread's information block, read directly: the header's NtCurrentTeb
// trips GCC's bounds warning.
#ifdef __i386__
void* StackLimit() {
    void* limit;
    asm volatile("movl %%fs:8, %0" : "=r"(limit));
    return limit;
}
void* FrameHandlers() {
    void* list;
    asm volatile("movl %%fs:0, %0" : "=r"(list));
    return list;
}
void SetFrameHandlers(void* list) {
    asm volatile("movl %0, %%fs:0" : : "r"(list) : "memory");
}
#else
void* StackLimit() {
    void* limit;
    asm volatile("movq %%gs:16, %0" : "=r"(limit));
    return limit;
}
#endif

// Win32 TLS: the handler runs inside the platform's exception dispatch,
// where emulated TLS might allocate.
DWORD Slot() {
    static const DWORD slot = ::TlsAlloc();
    return slot;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (!IsHardwareFault(code)) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD error = ::GetLastError();
    auto* frame = static_cast<Frame*>(::TlsGetValue(Slot()));
    ::SetLastError(error);
    if (!frame || !frame->armed) return EXCEPTION_CONTINUE_SEARCH;
    frame->armed = 0;
    frame->fault = code;
#ifdef __i386__
    CONTEXT& context = *info->ContextRecord;
    context.Ebx = frame->resume.ebx;
    context.Esi = frame->resume.esi;
    context.Edi = frame->resume.edi;
    context.Ebp = frame->resume.ebp;
    context.Esp = frame->resume.esp;
    context.Eip = frame->resume.eip;
    context.EFlags &= ~0x400u; // the direction flag, as the ABI expects it
#else
    *info->ContextRecord = frame->resume;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// An overflow used the stack's guard page up; without a new one the next
// overflow on this thread would end the process.
void RearmStackGuard() {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const SIZE_T page = system.dwPageSize;
    auto* const limit = static_cast<BYTE*>(StackLimit());
    MEMORY_BASIC_INFORMATION region;
    if (::VirtualQuery(limit, &region, sizeof region) != sizeof region) return;
    if (region.Protect & PAGE_GUARD) return;
    // The lowest pages stay for the system's own overflow handling.
    auto* const bottom = static_cast<BYTE*>(region.AllocationBase);
    BYTE* guard = limit;
    if (guard < bottom + 2 * page) guard = bottom + 2 * page;
    const BYTE here = 0;
    if (guard + page >= &here) return;
    DWORD old = 0;
    if (!::VirtualAlloc(guard, page, MEM_COMMIT, PAGE_READWRITE)) return;
    ::VirtualProtect(guard, page, PAGE_READWRITE | PAGE_GUARD, &old);
}

void Recover(DWORD fault) {
    if (fault == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    if (fault >= EXCEPTION_FLT_DENORMAL_OPERAND && fault <= EXCEPTION_FLT_UNDERFLOW) {
        _clearfp();
        _fpreset();
    }
}

// The guarded call itself; kept out of line so that its frame, and the
// captured context, stay put while the call runs.
__attribute__((noinline)) DWORD Enter(Frame* frame, GuardedCall call, void* context) {
    Frame* volatile const self = frame;
#ifdef __i386__
    // Resumes at the label with the registers saved here; the others count
    // as clobbered.
    asm volatile("movl %%ebx, 0(%0)\n\t"
                 "movl %%esi, 4(%0)\n\t"
                 "movl %%edi, 8(%0)\n\t"
                 "movl %%ebp, 12(%0)\n\t"
                 "movl %%esp, 16(%0)\n\t"
                 "movl $1f, 20(%0)\n"
                 "1:"
                 :
                 : "r"(&self->resume)
                 : "eax", "ecx", "edx", "memory", "cc");
#else
    RtlCaptureContext(&self->resume);
#endif
    if (self->fault == 0 && !self->armed) {
        self->armed = 1;
        call(context);
        self->armed = 0;
    }
    return self->fault;
}

} // namespace

bool IsHardwareFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
        return true;
    default:
        return false;
    }
}

bool RunGuarded(GuardedCall call, void* context, DWORD* fault) {
    *fault = 0;
    const DWORD slot = Slot();
    if (slot == TLS_OUT_OF_INDEXES) return false;
    PVOID handler = ::AddVectoredExceptionHandler(1, OnException);
    if (!handler) return false;

    Frame frame{};
    frame.outer = static_cast<Frame*>(::TlsGetValue(slot));
#ifdef __i386__
    frame.handlers = FrameHandlers();
#endif
    if (!::TlsSetValue(slot, &frame)) {
        ::RemoveVectoredExceptionHandler(handler);
        return false;
    }
    // A C++ exception leaving the call passes through here on its way to
    // its handler: the thread must not keep pointing at this frame.
    DWORD code;
    try {
        code = Enter(&frame, call, context);
    } catch (...) {
        ::TlsSetValue(slot, frame.outer);
        ::RemoveVectoredExceptionHandler(handler);
        throw;
    }
#ifdef __i386__
    if (code) SetFrameHandlers(frame.handlers);
#endif
    ::TlsSetValue(slot, frame.outer);
    ::RemoveVectoredExceptionHandler(handler);
    if (code) Recover(code);
    *fault = code;
    return code == 0;
}

} // namespace vandrel
