#include "registrar/FaultGuard.h"

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
#else
    CONTEXT resume;
#endif
    volatile LONG armed;
    volatile DWORD fault;
    Frame* outer;
};

#ifdef __i386__
// The thread's information block, read directly: the header's NtCurrentTeb
// trips GCC's bounds warning.
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

// The innermost guard of this thread whose call is still running: a fault
// in an inner guard's own bookkeeping belongs to the call around it.
Frame* ArmedFrame() {
    const DWORD error = ::GetLastError();
    auto* frame = static_cast<Frame*>(::TlsGetValue(Slot()));
    ::SetLastError(error);
    while (frame && !frame->armed)
        frame = frame->outer;
    return frame;
}

// Ends the innermost armed guard's call: the thread goes on where it
// entered the guard.
bool Resume(DWORD code, CONTEXT* context) {
    if (!IsHardwareFault(code)) return false;
    Frame* const frame = ArmedFrame();
    if (!frame) return false;
    frame->armed = 0;
    frame->fault = code;
#ifdef __i386__
    context->Ebx = frame->resume.ebx;
    context->Esi = frame->resume.esi;
    context->Edi = frame->resume.edi;
    context->Ebp = frame->resume.ebp;
    context->Esp = frame->resume.esp;
    context->Eip = frame->resume.eip;
    context->EFlags &= ~0x400u; // the direction flag, as the ABI expects it
#else
    *context = frame->resume;
#endif
    return true;
}

// A stack overflow is taken before the frames are asked: what is left of
// the stack does not carry the dispatch out to the guard's frame, and no
// handler below could go on on that stack anyway.
LONG CALLBACK OnStackOverflow(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    return Resume(EXCEPTION_STACK_OVERFLOW, info->ContextRecord) ? EXCEPTION_CONTINUE_EXECUTION
                                                                 : EXCEPTION_CONTINUE_SEARCH;
}

} // namespace
} // namespace vandrel

// The handler of the guard's own stack frame. The platform's dispatch asks
// the frames from the fault outwards, so every handler the platform put below
// the guard (its own __try blocks: probes of the IsBadReadPtr kind, resource
// lookups) has had its turn first; only a fault that none of them took gets
// here, where it ends the guarded call.
extern "C" EXCEPTION_DISPOSITION __cdecl VandrelGuardFrameHandler(EXCEPTION_RECORD* record, void*,
                                                                  CONTEXT* context, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    return vandrel::Resume(record->ExceptionCode, context) ? ExceptionContinueExecution
                                                           : ExceptionContinueSearch;
}

namespace vandrel {
namespace {

// An overflow used the stack's guard page up; without a new one the next
// overflow on this thread would end the process.
void RestoreStackGuardPage() {
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
    if (fault == EXCEPTION_STACK_OVERFLOW) RestoreStackGuardPage();
    if (fault >= EXCEPTION_FLT_DENORMAL_OPERAND && fault <= EXCEPTION_FLT_UNDERFLOW) {
        _clearfp();
        _fpreset();
    }
}

#ifdef __i386__
// i686 keeps its frame handlers in a list on the stack, each record in the
// frame it guards.
struct HandlerRecord {
    void* next;
    void* handler;
};
#endif

// The guarded call itself, with the frame handler above; kept out of line so
// that its frame, its handler and the captured context stay put while the
// call runs. Nothing in it may need unwinding: the handler resumes here.
__attribute__((noinline)) DWORD Enter(Frame* frame, GuardedCall call, void* context) {
    Frame* volatile const self = frame;
#ifdef __i386__
    volatile HandlerRecord record;
    record.next = FrameHandlers();
    record.handler = reinterpret_cast<void*>(VandrelGuardFrameHandler);
    SetFrameHandlers(const_cast<HandlerRecord*>(&record));
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
    asm volatile(".seh_handler VandrelGuardFrameHandler, @except");
    RtlCaptureContext(&self->resume);
#endif
    if (self->fault == 0 && !self->armed) {
        self->armed = 1;
        call(context);
        self->armed = 0;
    }
#ifdef __i386__
    // After a fault the list still starts with the records of the frames
    // the resumption left behind.
    SetFrameHandlers(record.next);
#endif
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
    PVOID overflow = ::AddVectoredExceptionHandler(1, OnStackOverflow);
    if (!overflow) return false;
    Frame frame{};
    frame.outer = static_cast<Frame*>(::TlsGetValue(slot));
    if (!::TlsSetValue(slot, &frame)) {
        ::RemoveVectoredExceptionHandler(overflow);
        return false;
    }
#ifdef __i386__
    void* const handlers = FrameHandlers();
#endif
    // A C++ exception leaving the call passes through here on its way to
    // its handler: the thread must not keep pointing at this frame, nor (on
    // i686, whose C++ exceptions do not unwind the handler list) at the
    // handler record in a frame that is gone.
    DWORD code;
    try {
        code = Enter(&frame, call, context);
    } catch (...) {
#ifdef __i386__
        SetFrameHandlers(handlers);
#endif
        ::TlsSetValue(slot, frame.outer);
        ::RemoveVectoredExceptionHandler(overflow);
        throw;
    }
    ::TlsSetValue(slot, frame.outer);
    ::RemoveVectoredExceptionHandler(overflow);
    if (code) Recover(code);
    *fault = code;
    return code == 0;
}

} // namespace vandrel
