#include "shell/ModMain.h"

#include "common/Owned.h"
#include "common/ProgramPath.h"
#include "common/SameText.h"
#include "registrar/ModVandrel.h"
#include "shell/Check.h"
#include "shell/ConsoleText.h"
#include "shell/Elevation.h"
#include "shell/Export.h"
#include "shell/Query.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"
#include "shell/WhatIf.h"
#include "shell/frmMain.h"

#include <exception>
#include <new>

namespace vandrel {
namespace {

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), style);
}

void WriteAnswer(const std::wstring& text) {
    WriteForAPerson(STD_OUTPUT_HANDLE, text);
}

const CommandServices kRealServices = {
    .RegisterLibrary = RegisterLibraryIn,
    .UnregisterLibrary = UnregisterLibraryIn,
    .UnregisterIdentity = UnregisterIdentityIn,
    .ShowMessage = ShowMessageBox,
    .ElevationType = ProcessElevationType,
    .ShellExecuteExW = ShellExecuteOnFirstUse,
    .WaitForProcess = WaitForProcessDroppingInput,
    .WriteReason = WriteReasonLine,
    .WriteAnswer = WriteAnswer,
};

const CommandServices& Services() {
    return *CommandSeam();
}

Outcome Report(bool unregister, const std::wstring& path, const RegistrarResult& result,
               Flag showMessage, HWND owner) {
    const bool succeeded = result.flag == kTrue;
    const bool restored = succeeded || result.failure != Failure::NotRestored;
    if (showMessage != 0) {
        std::wstring text = ResultMessage(unregister, path, succeeded);
        if (!restored) text += std::wstring(L"\n") + ui::kNotRestoredLine;
        Services().ShowMessage(owner, text, ui::kAppTitle, kResultStyle);
    }
    if (succeeded) return Outcome::Succeeded;
    // The worker that reads libraries could not even be started.
    if (result.failure == Failure::Unexpected) return Outcome::Errored;
    return restored ? Outcome::Failed : Outcome::NotRestored;
}

// A person at the screen, refused a machine-wide command for lack of rights
// while the process runs with an administrator's filtered token, can be
// asked once to elevate. Scripts (no message) get the honest failure and
// elevate themselves.
bool MayElevate(const RegistrarResult& result, Flag showMessage, Scope scope) {
    return result.flag != kTrue && result.failure == Failure::NoRights && showMessage != 0 &&
           scope == Scope::Machine && Services().ElevationType() == TokenElevationTypeLimited;
}

// The same command in an elevated, silent copy of this program, and that
// copy's exit status. A declined prompt is a failure.
DWORD RunElevated(bool unregister, const std::wstring& path, HWND owner,
                  const LibraryId* identity) {
    const std::wstring program = ProgramPath();
    // The elevated copy is started in a folder of the system's choosing.
    std::wstring parameters = L"\"" + FullPath(path).value_or(path) + L"\"";
    if (identity) parameters = IdentityText(*identity, true);
    if (unregister) parameters += L" /u";
    parameters += L" /s";
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!Services().ShellExecuteExW(&info)) return kExitFailed;
    const OwnedHandle process(info.hProcess);
    if (!process) return kExitFailed;
    return Services().WaitForProcess(process.get(), owner);
}

Outcome ElevatedOutcome(DWORD status) {
    switch (status) {
    case kExitSucceeded:
        return Outcome::Succeeded;
    case kExitNothingDone:
        return Outcome::NothingDone;
    case kExitError:
        return Outcome::Errored;
    case kExitNotRestored:
        return Outcome::NotRestored;
    default:
        return Outcome::Failed;
    }
}

bool g_commandRunning = false;

const wchar_t* Operation(bool unregister) {
    return unregister ? ui::kUnregister : ui::kRegister;
}

Outcome Command(bool unregister, const std::wstring& path, Flag showMessage, HWND owner,
                Scope scope, bool reasonLine, const LibraryId* identity = nullptr) {
    if (SameText(path, L"")) return Outcome::NothingDone;
    if (g_commandRunning) return Outcome::NothingDone;
    struct Running {
        Running() { g_commandRunning = true; }
        ~Running() { g_commandRunning = false; }
    } running;
    const RegistrarResult result = identity     ? Services().UnregisterIdentity(*identity, scope)
                                   : unregister ? Services().UnregisterLibrary(path, scope)
                                                : Services().RegisterLibrary(path, L"", scope);
    if (!MayElevate(result, showMessage, scope)) {
        if (reasonLine && result.flag != kTrue)
            Services().WriteReason(
                ReasonLine(Operation(unregister), path, ReasonOf(result.failure), result.status));
        return Report(unregister, path, result, showMessage, owner);
    }
    const DWORD status = RunElevated(unregister, path, owner, identity);
    const Outcome elevated = ElevatedOutcome(status);
    if (reasonLine && elevated != Outcome::Succeeded)
        Services().WriteReason(ReasonLine(Operation(unregister), path, Reason::ElevatedFailed,
                                          static_cast<HRESULT>(status)));
    Report(unregister, path,
           elevated == Outcome::Succeeded
               ? RegistrarResult(kTrue)
               : RegistrarResult(kFalse, elevated == Outcome::NotRestored ? Failure::NotRestored
                                                                          : Failure::Platform),
           showMessage, owner);
    return elevated;
}

int ExitStatus(Outcome outcome) {
    switch (outcome) {
    case Outcome::Succeeded:
        return kExitSucceeded;
    case Outcome::Failed:
        return kExitFailed;
    case Outcome::Errored:
        return kExitError;
    case Outcome::NotRestored:
        return kExitNotRestored;
    case Outcome::NothingDone:
        break;
    }
    return kExitNothingDone;
}

// An error that reached start-up: the error box unless silent, and in
// command mode the reason line.
void ReportError(const char* what, bool commandMode, bool silent) {
    std::wstring detail;
    if (what && *what) {
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, what, -1, nullptr, 0);
        if (n > 1) {
            detail.assign(static_cast<size_t>(n - 1), L'\0');
            ::MultiByteToWideChar(CP_UTF8, 0, what, -1, detail.data(), n);
        }
    }
    if (commandMode)
        Services().WriteReason(ReasonLine(L"", L"", Reason::Error, E_UNEXPECTED, detail));
    if (silent) return;
    std::wstring text = ui::kErrorLead;
    if (!detail.empty()) text += L"\n" + detail;
    Services().ShowMessage(nullptr, text, ui::kAppTitle, MB_OK | MB_ICONERROR);
}

} // namespace

Seam<CommandServices>& CommandSeam() {
    static Seam<CommandServices> seam(kRealServices);
    return seam;
}

std::wstring ResultMessage(bool unregister, const std::wstring& path, bool succeeded) {
    std::wstring text = unregister ? ui::kUnregisterPrefix : ui::kRegisterPrefix;
    text += path;
    text += succeeded ? ui::kSucceededSuffix : ui::kFailedSuffix;
    return text;
}

Outcome RegFile(std::wstring path, Flag showMessage, HWND owner, Scope scope, bool reasonLine) {
    return Command(false, path, showMessage, owner, scope, reasonLine);
}

Outcome UnRegFile(std::wstring path, Flag showMessage, HWND owner, Scope scope, bool reasonLine) {
    return Command(true, path, showMessage, owner, scope, reasonLine);
}

Outcome UnRegIdentity(const std::wstring& text, const LibraryId& id, Flag showMessage, Scope scope,
                      bool reasonLine) {
    return Command(true, text, showMessage, nullptr, scope, reasonLine, &id);
}

int Main(const std::wstring& commandLine) {
    const std::wstring arguments = ArgumentText(commandLine);
    CommandLine line;
    const bool commandMode = !SameText(arguments, L"");
    try {
        if (!commandMode) return RunMainWindow();
        line = ParseArguments(arguments);
        if (!line.unknownSwitch.empty()) return RefuseUnknownSwitch(line);
        if (line.check) return CheckAll(line.json);
        if (line.orphans) return ListOrphans(line.json);
        if (line.query) return Query(line);
        if (!line.regFile.empty() || !line.wxsFile.empty()) return Export(line);
        if (line.whatIf) return WhatIf(line);
        if (line.byIdentity && line.registerFlag == kFalse)
            return ExitStatus(UnRegIdentity(line.identityText, line.identity, line.showMessage,
                                            line.scope, true));
        const Outcome outcome =
            line.registerFlag == kTrue
                ? RegFile(line.path, line.showMessage, nullptr, line.scope, true)
                : UnRegFile(line.path, line.showMessage, nullptr, line.scope, true);
        return ExitStatus(outcome);
    } catch (const std::bad_alloc&) {
        ReportError("内存不足", commandMode, commandMode && line.showMessage == kFalse);
    } catch (const std::exception& e) {
        ReportError(e.what(), commandMode, commandMode && line.showMessage == kFalse);
    } catch (...) {
        ReportError(nullptr, commandMode, commandMode && line.showMessage == kFalse);
    }
    return kExitError;
}

} // namespace vandrel
