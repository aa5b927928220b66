// Reading the command line: the argument text after the program's name,
// its tokens, and the command they ask for.
#include "shell/ModMain.h"

#include "common/SameText.h"
#include "registrar/registry/TypeLibRegistrations.h"

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

CommandLine ParseArguments(const std::wstring& text) {
    CommandLine line;
    const auto tokens = SplitArguments(text);
    // The build's own platform kind unless one is named.
    line.identity.syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    for (const auto& token : tokens) {
        if (SameText(token, L"/u")) line.registerFlag = kFalse;
        if (SameText(token, L"/s")) line.showMessage = kFalse;
        if (SameText(token, L"/user")) line.scope = Scope::User;
        if (SameText(token, L"/q")) line.query = true;
        if (SameText(token, L"/orphans")) line.orphans = true;
        if (SameText(token, L"/win32")) line.identity.syskind = SYS_WIN32;
        if (SameText(token, L"/win64")) line.identity.syskind = SYS_WIN64;
    }
    line.path = tokens.front();
    // A braced GUID alone is a path, as is anything that is not a version
    // after it.
    unsigned long lcid = 0;
    if (tokens.size() > 1 && ParseGuid(tokens[0], line.identity.guid) &&
        ParseVersion(tokens[1], line.identity.major, line.identity.minor)) {
        line.byIdentity = true;
        line.identityText = tokens[0] + L" " + tokens[1];
        // A third token that is not a switch is the locale, and a locale
        // that cannot be read names no registration: nothing is removed for
        // a mistyped one.
        if (tokens.size() > 2 && !tokens[2].empty() && tokens[2][0] != L'/') {
            line.byIdentity = ParseHex(tokens[2], 8, lcid);
            line.identity.lcid = lcid;
            line.identityText += L" " + tokens[2];
        }
    }
    return line;
}

} // namespace vandrel
