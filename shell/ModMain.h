// Start-up, the command line, and the register and unregister commands.
#pragma once

#include "common/Flag.h"

#include <windows.h>

#include <string>
#include <vector>

namespace vandrel {

// What a command did; the command line turns it into the exit status.
enum class Outcome { Succeeded, Failed, NothingDone };

// Exit statuses of a command-line run.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNothingDone = 2;
inline constexpr int kExitError = 3;

// What the commands reach beyond themselves, replaceable in tests.
struct CommandServices {
    Flag (*RegisterLibrary)(const std::wstring& path, const std::wstring& helpDir);
    Flag (*UnregisterLibrary)(const std::wstring& path);
    int (*ShowMessage)(HWND owner, const std::wstring& text, const std::wstring& caption,
                       UINT style);
};

const CommandServices& RealCommandServices();
// nullptr restores the real services.
void SetCommandServices(const CommandServices* services);

inline constexpr wchar_t kAppTitle[] = L"Vandrel";
inline constexpr UINT kResultStyle = MB_OK | MB_ICONINFORMATION; // 0x40

// "注册"path"成功!" and its three siblings.
std::wstring ResultMessage(bool unregister, const std::wstring& path, bool succeeded);

// The two commands. An empty path does nothing and shows nothing; any
// non-zero showMessage shows the result, owned by `owner` when given.
Outcome RegFile(std::wstring path, Flag showMessage, HWND owner = nullptr);
Outcome UnRegFile(std::wstring path, Flag showMessage, HWND owner = nullptr);

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
};
CommandLine ParseArguments(const std::wstring& text);

// Start-up: one command for a non-empty argument text, else the main window.
// Returns the process exit status.
int Main(const std::wstring& commandLine);

} // namespace vandrel
