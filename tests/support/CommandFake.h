// The commands' surroundings (registrar, message box, elevation, the
// reason and answer lines) replaced by fakes that record what they were
// asked, for the unit tests of the commands and of the window.
#pragma once

#include "shell/ModMain.h"
#include "support/ScopedSeam.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vandrel::test {

// The commands' surroundings, recorded.
struct Recorder {
    Flag answer = kTrue;
    Failure failure = Failure::Platform;
    HRESULT status = E_FAIL;
    std::vector<std::wstring> registered, unregistered, helpDirs;
    struct Shown {
        HWND owner;
        std::wstring text, caption;
        UINT style;
    };
    std::vector<Shown> shown;
    // Elevation: the token, the prompt, the elevated run.
    TOKEN_ELEVATION_TYPE token = TokenElevationTypeDefault;
    bool accepted = true;
    DWORD elevatedStatus = 0;
    struct Launch {
        DWORD size, mask;
        HWND owner;
        std::wstring verb, file, parameters;
        HANDLE process;
    };
    std::vector<Launch> launches;
    std::vector<HWND> waitOwners;
    // A click on the window while the elevated copy is awaited, and what
    // the command it asked for did.
    bool clickWhileWaiting = false;
    // The registrar throws instead of answering.
    bool registrarBreaks = false;
    Outcome clicked = Outcome::Succeeded;
    std::vector<std::wstring> reasons;
    std::vector<LibraryId> identities;
    std::wstring answers;
    std::wstring events; // in order, space-separated
    void Happened(const wchar_t* event) {
        if (!events.empty()) events += L" ";
        events += event;
    }
};
inline Recorder* g_rec = nullptr;

inline BOOL WINAPI FakeShellExecute(SHELLEXECUTEINFOW* info) {
    g_rec->Happened(L"launch");
    HANDLE process = g_rec->accepted ? ::CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    g_rec->launches.push_back({info->cbSize, info->fMask, info->hwnd, info->lpVerb, info->lpFile,
                               info->lpParameters, process});
    info->hProcess = process;
    if (!process) ::SetLastError(ERROR_CANCELLED);
    return process != nullptr;
}

inline const CommandServices kFakes = {
    .RegisterLibrary =
        [](const std::wstring& path, const std::wstring& help, Scope) {
            g_rec->Happened(L"registrar");
            if (g_rec->registrarBreaks) throw std::runtime_error("registrar broke");
            g_rec->registered.push_back(path);
            g_rec->helpDirs.push_back(help);
            return RegistrarResult(g_rec->answer, g_rec->failure, g_rec->status);
        },
    .UnregisterLibrary =
        [](const std::wstring& path, Scope) {
            g_rec->Happened(L"registrar");
            g_rec->unregistered.push_back(path);
            return RegistrarResult(g_rec->answer, g_rec->failure, g_rec->status);
        },
    .UnregisterIdentity =
        [](const LibraryId& id, Scope) {
            g_rec->Happened(L"registrar");
            g_rec->identities.push_back(id);
            return RegistrarResult(g_rec->answer, g_rec->failure, g_rec->status);
        },
    .ShowMessage =
        [](HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
            g_rec->Happened(L"message");
            g_rec->shown.push_back({owner, text, caption, style});
            return IDOK;
        },
    .ElevationType =
        [] {
            g_rec->Happened(L"token");
            return g_rec->token;
        },
    .ShellExecuteExW = FakeShellExecute,
    .WaitForProcess =
        [](HANDLE process, HWND owner) {
            g_rec->Happened(L"wait");
            EXPECT_EQ(process, g_rec->launches.back().process);
            g_rec->waitOwners.push_back(owner);
            if (g_rec->clickWhileWaiting) g_rec->clicked = RegFile(L"C:\\t\\b.tlb", kTrue, owner);
            return g_rec->elevatedStatus;
        },
    .WriteReason = [](const std::wstring& line) { g_rec->reasons.push_back(line); },
    .WriteAnswer = [](const std::wstring& text) { g_rec->answers += text; },
};

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override { g_rec = &rec; }
    void TearDown() override { g_rec = nullptr; }
    Recorder rec;
    ScopedSeam<CommandServices> services{CommandSeam(), kFakes};
};

} // namespace vandrel::test
