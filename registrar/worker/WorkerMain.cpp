#include "registrar/worker/WorkerMain.h"

#include "registrar/RegistrarPlatform.h"
#include "registrar/WorkerProtocol.h"
#include "registrar/worker/WorkerSession.h"

#include <windows.h>

#include <cwchar>

namespace vandrel {
namespace {

using namespace worker;

bool ReadAll(HANDLE pipe, void* bytes, size_t size) {
    auto* at = static_cast<char*>(bytes);
    while (size) {
        DWORD read = 0;
        if (!::ReadFile(pipe, at, static_cast<DWORD>(size), &read, nullptr) || read == 0)
            return false;
        at += read;
        size -= read;
    }
    return true;
}

bool WriteAll(HANDLE pipe, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                         &written, nullptr))
            return false;
        done += written;
    }
    return true;
}

bool ReadText(HANDLE pipe, uint32_t chars, std::wstring& text) {
    if (chars > kMaxTextChars) return false;
    text.assign(chars, L'\0');
    return ReadAll(pipe, text.data(), chars * sizeof(wchar_t));
}

// Ends the worker at once with the exception's code as its status. Wine 8
// does not consult the error mode before starting its debugger for an
// unhandled exception, but it does ask the process's own filter first.
LONG WINAPI EndWithCode(EXCEPTION_POINTERS* exception) {
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

constexpr size_t kArgumentChars = sizeof kArgument / sizeof kArgument[0] - 1;

} // namespace

bool IsWorkerArguments(const std::wstring& arguments) {
    return arguments.compare(0, kArgumentChars, kArgument) == 0;
}

int RunWorker(const std::wstring& arguments) {
    // Before anything can fault: a crash ends this process quietly, with its
    // exception code as the exit status, and a missing disk asks nobody.
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    ::SetUnhandledExceptionFilter(EndWithCode);
    if (!IsWorkerArguments(arguments)) return 3;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(arguments.c_str() + kArgumentChars, &end, 16);
    const auto pipe = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value));
    if (!end || *end != L'\0' || ::GetFileType(pipe) != FILE_TYPE_PIPE) return 3;
    worker::WorkerSession session(*RegistrarSeam());
    for (;;) {
        RequestHeader request;
        // Vandrel closed the pipe: it is done with the worker.
        if (!ReadAll(pipe, &request, sizeof request)) return 0;
        std::wstring text, help;
        if (!ReadText(pipe, request.textChars, text) || !ReadText(pipe, request.helpChars, help))
            return 3;
        if (!WriteAll(pipe, session.Serve(request, std::move(text), std::move(help)))) return 3;
    }
}

} // namespace vandrel
