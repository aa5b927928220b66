#include "shell/WhatIf.h"

#include "shell/Export.h"
#include "shell/JsonText.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

namespace vandrel {

std::wstring ChangeLine(const RegistryChange& change, Scope scope) {
    std::wstring line = std::wstring(1, change.kind) + L" " + EntryKeyPath(change.entry, scope);
    if (change.key) return line;
    return line + L" " + (change.entry.name.empty() ? L"@" : RegValueText(change.entry.name)) +
           L"=" + RegValueText(change.entry.data);
}

// {"change": "add", "key": "HKEY_...\\{iid}"} for a key; a value adds its
// "name" ("" for the key's default value) and its "value" (the one it
// gets, or for a value that goes, the one it had).
std::wstring ChangeJson(const RegistryChange& change, Scope scope) {
    JsonObject json;
    json.Text(L"change", change.kind == L'+'   ? L"add"
                         : change.kind == L'~' ? L"change"
                                               : L"remove")
        .Text(L"key", EntryKeyPath(change.entry, scope));
    if (change.key) return json.Written();
    return json.Text(L"name", change.entry.name).Text(L"value", change.entry.data).Written();
}

int WhatIf(const CommandLine& line) {
    const bool unregister = line.registerFlag == kFalse;
    std::vector<RegistryChange> changes;
    const RegistrarResult result =
        line.byIdentity && unregister ? PredictIdentityRemoval(line.identity, line.scope, changes)
        : unregister                  ? PredictUnregistration(line.path, line.scope, changes)
                                      : PredictRegistration(line.path, line.scope, changes);
    if (result.flag != kTrue) {
        const std::wstring& named = line.byIdentity && unregister ? line.identityText : line.path;
        CommandSeam()->WriteReason(ReasonLine(unregister ? ui::kUnregister : ui::kRegister, named,
                                              ReasonOf(result.failure), result.status));
        return result.failure == Failure::Unexpected ? kExitError : kExitFailed;
    }
    std::wstring answer;
    if (line.json) {
        std::vector<std::wstring> listed;
        for (const RegistryChange& change : changes)
            listed.push_back(ChangeJson(change, line.scope));
        answer = JsonDocument()
                     .Text(L"command", line.byIdentity && unregister ? L"removeByIdentity"
                                       : unregister                  ? L"unregister"
                                                                     : L"register")
                     .Text(L"scope", line.scope == Scope::User ? L"user" : L"machine")
                     .Json(L"changes", JsonArray(listed))
                     .Written() +
                 L"\r\n";
    } else {
        for (const RegistryChange& change : changes)
            answer += ChangeLine(change, line.scope) + L"\r\n";
    }
    CommandSeam()->WriteAnswer(answer);
    return kExitSucceeded;
}

} // namespace vandrel
