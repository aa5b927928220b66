#include "shell/WhatIf.h"

#include "shell/Export.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

namespace vandrel {

std::wstring ChangeLine(const RegistryChange& change, Scope scope) {
    std::wstring line = std::wstring(1, change.kind) + L" " + EntryKeyPath(change.entry, scope);
    if (change.key) return line;
    return line + L" " + (change.entry.name.empty() ? L"@" : RegValueText(change.entry.name)) +
           L"=" + RegValueText(change.entry.data);
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
    for (const RegistryChange& change : changes)
        answer += ChangeLine(change, line.scope) + L"\r\n";
    CommandSeam()->WriteAnswer(answer);
    return kExitSucceeded;
}

} // namespace vandrel
