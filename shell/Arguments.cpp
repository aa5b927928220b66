// Reading the command line: the argument text after the program's name,
// its tokens, and the command they ask for, or its refusal.
#include "shell/ModMain.h"

#include "common/SameText.h"
#include "registrar/ModVandrel.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

#include <cwchar>
#include <utility>

namespace vandrel {

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

namespace {

// Every switch, in the one place that knows them: parsing, the refusal of a
// mistyped one and the list the refusal gives all read this table.
struct Switch {
    const wchar_t* name;
    void (*apply)(CommandLine& line);
};
const Switch kSwitches[] = {
    {L"/u", [](CommandLine& line) { line.registerFlag = kFalse; }},
    {L"/s", [](CommandLine& line) { line.showMessage = kFalse; }},
    {L"/user", [](CommandLine& line) { line.scope = Scope::User; }},
    {L"/q", [](CommandLine& line) { line.query = true; }},
    {L"/orphans", [](CommandLine& line) { line.orphans = true; }},
    {L"/check", [](CommandLine& line) { line.check = true; }},
    {L"/json", [](CommandLine& line) { line.json = true; }},
    {L"/win16", [](CommandLine& line) { line.identity.syskind = SYS_WIN16; }},
    {L"/win32", [](CommandLine& line) { line.identity.syskind = SYS_WIN32; }},
    {L"/win64", [](CommandLine& line) { line.identity.syskind = SYS_WIN64; }},
    {L"/n", [](CommandLine& line) { line.whatIf = true; }},
};
// Switches that carry a value after their colon, which may not be empty.
struct ValueSwitch {
    const wchar_t* name;
    std::wstring CommandLine::*value;
};
const ValueSwitch kValueSwitches[] = {
    {L"/reg:", &CommandLine::regFile},      {L"/wxs:", &CommandLine::wxsFile},
    {L"/as:", &CommandLine::installedAs},   {L"/group:", &CommandLine::wxsGroup},
    {L"/fileid:", &CommandLine::wxsFileId}, {L"/arch:", &CommandLine::wxsArch},
};

bool ApplyValueSwitch(const std::wstring& token, CommandLine& line) {
    for (const ValueSwitch& known : kValueSwitches) {
        const size_t length = std::wcslen(known.name);
        if (token.size() > length && SameText(token.substr(0, length), known.name)) {
            line.*known.value = token.substr(length);
            return true;
        }
    }
    return false;
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

} // namespace

CommandLine ParseArguments(const std::wstring& text) {
    CommandLine line;
    const auto tokens = SplitArguments(text);
    // The build's own platform kind unless one is named.
    line.identity.syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Switch* known = nullptr;
        for (const Switch& candidate : kSwitches)
            if (SameText(tokens[i], candidate.name)) known = &candidate;
        if (known) {
            known->apply(line);
            continue;
        }
        if (i > 0 && ApplyValueSwitch(tokens[i], line)) continue;
        // A slash and a letter after the path is a switch mistyped: run
        // without it, the line would do something else than was asked (the
        // path itself may hold anything).
        if (i > 0 && line.unknownSwitch.empty() && tokens[i].size() > 1 && tokens[i][0] == L'/' &&
            IsAsciiLetter(tokens[i][1]))
            line.unknownSwitch = tokens[i];
    }
    line.path = tokens.front();
    // A braced GUID alone is a path, as is anything that is not a version
    // after it. A third token that is not a switch is the locale, and a
    // locale that cannot be read names no registration: nothing is removed
    // for a mistyped one.
    if (tokens.size() > 1) {
        const bool localeGiven = tokens.size() > 2 && !tokens[2].empty() && tokens[2][0] != L'/';
        line.byIdentity =
            ReadIdentity(tokens[0], tokens[1], localeGiven ? &tokens[2] : nullptr, line.identity);
        line.identityText = tokens[0] + L" " + tokens[1];
        if (localeGiven) line.identityText += L" " + tokens[2];
    }
    return line;
}

int RefuseUnknownSwitch(const CommandLine& line) {
    std::wstring detail = L"\"" + line.unknownSwitch + L"\"; " + ui::kKnownSwitches + L":";
    for (const Switch& known : kSwitches)
        detail += std::wstring(L" ") + known.name;
    for (const ValueSwitch& known : kValueSwitches)
        detail += std::wstring(L" ") + known.name;
    // A question has no message box and no operation; a command has both.
    const bool command = !line.query && !line.orphans && !line.check && !line.whatIf &&
                         line.regFile.empty() && line.wxsFile.empty();
    const bool unregister = line.registerFlag == kFalse;
    const std::wstring& path = line.byIdentity && unregister ? line.identityText : line.path;
    CommandSeam()->WriteReason(
        ReasonLine(command ? (unregister ? ui::kUnregister : ui::kRegister) : L"", path,
                   Reason::UnknownSwitch, E_INVALIDARG, detail));
    if (command && line.showMessage != 0)
        CommandSeam()->ShowMessage(nullptr, ResultMessage(unregister, path, false), ui::kAppTitle,
                                   kResultStyle);
    return kExitFailed;
}

} // namespace vandrel
