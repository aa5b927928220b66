#include "shell/ModMain.h"

#include "registrar/ModVandrel.h"
#include "shell/frmMain.h"

#include <exception>
#include <new>

namespace vandrel {
namespace {

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), style);
}

const CommandServices kReal = {RegisterLibrary, UnregisterLibrary, ShowMessageBox};
const CommandServices* g_services = &kReal;

// Case-insensitive equality, as every comparison in this module makes it.
bool TextEquals(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Outcome Report(bool unregister, const std::wstring& path, Flag result, Flag showMessage,
               HWND owner) {
    const bool succeeded = result == kTrue;
    if (showMessage != 0)
        g_services->ShowMessage(owner, ResultMessage(unregister, path, succeeded), kAppTitle,
                                kResultStyle);
    return succeeded ? Outcome::Succeeded : Outcome::Failed;
}

int ExitStatus(Outcome outcome) {
    switch (outcome) {
    case Outcome::Succeeded:
        return kExitSucceeded;
    case Outcome::Failed:
        return kExitFailed;
    case Outcome::NothingDone:
        break;
    }
    return kExitNothingDone;
}

void ReportError(const char* what, bool silent) {
    if (silent) return;
    std::wstring text = L"发生意外错误,程序将退出。";
    if (what && *what) {
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, what, -1, nullptr, 0);
        if (n > 1) {
            std::wstring detail(static_cast<size_t>(n - 1), L'\0');
            ::MultiByteToWideChar(CP_UTF8, 0, what, -1, detail.data(), n);
            text += L"\n" + detail;
        }
    }
    ::MessageBoxW(nullptr, text.c_str(), kAppTitle, MB_OK | MB_ICONERROR);
}

} // namespace

const CommandServices& RealCommandServices() {
    return kReal;
}

void SetCommandServices(const CommandServices* services) {
    g_services = services ? services : &kReal;
}

std::wstring ResultMessage(bool unregister, const std::wstring& path, bool succeeded) {
    std::wstring text = unregister ? L"注销\"" : L"注册\"";
    text += path;
    text += succeeded ? L"\"成功!" : L"\"失败!";
    return text;
}

Outcome RegFile(std::wstring path, Flag showMessage, HWND owner) {
    if (TextEquals(path, L"")) return Outcome::NothingDone;
    const Flag result = g_services->RegisterLibrary(path, L"");
    return Report(false, path, result, showMessage, owner);
}

Outcome UnRegFile(std::wstring path, Flag showMessage, HWND owner) {
    if (TextEquals(path, L"")) return Outcome::NothingDone;
    const Flag result = g_services->UnregisterLibrary(path);
    return Report(true, path, result, showMessage, owner);
}

std::wstring ArgumentText(const std::wstring& commandLine) {
    size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        i = close == std::wstring::npos ? commandLine.size() : close + 1;
    }
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t')
        ++i;
    // Only the one blank that separates the name goes; further blanks belong
    // to the arguments, so a text of spaces stays a (silent) command.
    if (i < commandLine.size()) ++i;
    return commandLine.substr(i);
}

std::vector<std::wstring> SplitArguments(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    std::wstring token;
    bool quoted = false;
    for (wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L' ' && !quoted) {
            tokens.push_back(std::move(token));
            token.clear();
        } else {
            token += c;
        }
    }
    tokens.push_back(std::move(token));
    return tokens;
}

CommandLine ParseArguments(const std::wstring& text) {
    CommandLine line;
    const auto tokens = SplitArguments(text);
    for (const auto& token : tokens) {
        if (TextEquals(token, L"/u")) line.registerFlag = kFalse;
        if (TextEquals(token, L"/s")) line.showMessage = kFalse;
    }
    line.path = tokens.front();
    return line;
}

int Main(const std::wstring& commandLine) {
    const std::wstring arguments = ArgumentText(commandLine);
    CommandLine line;
    const bool commandMode = !TextEquals(arguments, L"");
    try {
        if (!commandMode) return RunMainWindow();
        line = ParseArguments(arguments);
        const Outcome outcome = line.registerFlag == kTrue ? RegFile(line.path, line.showMessage)
                                                           : UnRegFile(line.path, line.showMessage);
        return ExitStatus(outcome);
    } catch (const std::bad_alloc&) {
        ReportError("out of memory", commandMode && line.showMessage == kFalse);
    } catch (const std::exception& e) {
        ReportError(e.what(), commandMode && line.showMessage == kFalse);
    } catch (...) {
        ReportError(nullptr, commandMode && line.showMessage == kFalse);
    }
    return kExitError;
}

} // namespace vandrel
