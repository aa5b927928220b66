// Start-up, the command line, and the register and unregister commands.
#pragma once

#include "common/Flag.h"
#include "common/Seam.h"
#include "registrar/ModVandrel.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace vandrel {

// What a command did; the command line turns it into the exit status.
// Errored: an elevated copy that ran the command ended in an unexpected error.
// NotRestored: the command failed and the registry could not all be put back.
enum class Outcome { Succeeded, Failed, NothingDone, Errored, NotRestored };

// Exit statuses of a command-line run.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNothingDone = 2;
inline constexpr int kExitError = 3;
inline constexpr int kExitNotRestored = 4;

// What the commands reach beyond themselves, replaceable in tests.
// A fake leaves out what it never expects to be asked for (nullptr).
struct CommandServices {
    RegistrarResult (*RegisterLibrary)(const std::wstring& path, const std::wstring& helpDir,
                                       Scope scope) = nullptr;
    RegistrarResult (*UnregisterLibrary)(const std::wstring& path, Scope scope) = nullptr;
    RegistrarResult (*UnregisterIdentity)(const LibraryId& id, Scope scope) = nullptr;
    int (*ShowMessage)(HWND owner, const std::wstring& text, const std::wstring& caption,
                       UINT style) = nullptr;
    // Running a refused command again elevated (see Elevation.h); asked
    // only after a refusal for lack of rights.
    TOKEN_ELEVATION_TYPE (*ElevationType)() = nullptr;
    BOOL(WINAPI* ShellExecuteExW)(SHELLEXECUTEINFOW* info) = nullptr;
    DWORD (*WaitForProcess)(HANDLE process, HWND owner) = nullptr;
    // The reason line of a failed command-line command (see ReasonLine.h).
    void (*WriteReason)(const std::wstring& line) = nullptr;
    // What /q and /orphans answer, on standard output (see ConsoleText.h).
    void (*WriteAnswer)(const std::wstring& text) = nullptr;
};

Seam<CommandServices>& CommandSeam();

inline constexpr UINT kResultStyle = MB_OK | MB_ICONINFORMATION; // 0x40

// "注册"path"成功!" and its three siblings.
std::wstring ResultMessage(bool unregister, const std::wstring& path, bool succeeded);

// The two commands. An empty path does nothing and shows nothing; any
// non-zero showMessage shows the result, owned by `owner` when given. A
// machine-wide command with a message, refused for lack of rights in a
// filtered administrator token, is run once more in an elevated copy of this
// program, whose exit status decides the result and becomes the outcome.
// One command runs at a time: a command asked for while another runs (a
// click dispatched while the elevated copy is awaited) does nothing.
// Unregistration of the registration an identity names; `text` is how the
// command line gave it, for the message.
Outcome UnRegIdentity(const std::wstring& text, const LibraryId& id, Flag showMessage, Scope scope,
                      bool reasonLine);
// From the command line, a failure also writes its reason line.
Outcome RegFile(std::wstring path, Flag showMessage, HWND owner = nullptr,
                Scope scope = Scope::Machine, bool reasonLine = false);
Outcome UnRegFile(std::wstring path, Flag showMessage, HWND owner = nullptr,
                  Scope scope = Scope::Machine, bool reasonLine = false);

// The process command line without the program's name and the one blank
// that follows it.
std::wstring ArgumentText(const std::wstring& commandLine);

// Cuts at single spaces; a double quotation mark groups up to the next one
// (or to the end) and is dropped from the token. n separators, n + 1 tokens.
std::vector<std::wstring> SplitArguments(const std::wstring& text);

struct CommandLine {
    std::wstring path;
    Flag registerFlag = kTrue;
    Flag showMessage = kTrue;
    Scope scope = Scope::Machine;
    // A braced libid followed by a version (and perhaps a locale) names a
    // registration instead of a file: `identityText` is those tokens as given.
    bool byIdentity = false;
    LibraryId identity;
    std::wstring identityText;
    bool query = false;   // /q: what is registered, on standard output
    bool orphans = false; // /orphans: registrations whose file is gone
    bool check = false;   // /check: every registration judged
    bool json = false;    // /json: the questions answer in one JSON document
    // Writing the registration as files for installers, and what a command
    // would change (shell/Export.h, shell/WhatIf.h): values of /name:value.
    std::wstring regFile, wxsFile, installedAs, wxsGroup, wxsFileId, wxsArch;
    bool whatIf = false; // /n
    // The first token after the path that is a slash and a letter but no
    // switch: the line is refused.
    std::wstring unknownSwitch;
};
CommandLine ParseArguments(const std::wstring& text);
// The refusal of a line with an unknown switch: its reason line, and the
// failure message where the command would show one. Returns the exit status.
int RefuseUnknownSwitch(const CommandLine& line);

// Start-up: one command for a non-empty argument text, else the main window.
// Returns the process exit status.
int Main(const std::wstring& commandLine);

} // namespace vandrel
