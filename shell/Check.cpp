#include "shell/Check.h"

#include "shell/JsonText.h"
#include "shell/ModMain.h"
#include "shell/Query.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

#include <vector>

namespace vandrel {
namespace {

const wchar_t* ScopeText(Scope scope) {
    return scope == Scope::User ? ui::kForUser : ui::kForMachine;
}

const wchar_t* UnreadableReason(const Finding& finding) {
    return ReasonText(finding.damaged ? Reason::Damaged : Reason::NotTypeLib);
}

// A libid or an interface id as the registry names its key: the first word
// of an identity text, "{…} 1.0 0 win64".
std::wstring GuidText(const GUID& guid) {
    const std::wstring text = IdentityText({guid}, false);
    return text.substr(0, text.find(L' '));
}

// "{libid} 1.0": the identity text without its locale and platform.
std::wstring LibidAndVersion(const LibraryId& id) {
    const std::wstring text = IdentityText(id, false);
    return text.substr(0, text.find(L' ', text.find(L' ') + 1));
}

const wchar_t* KindWord(FindingKind kind) {
    switch (kind) {
    case FindingKind::FileMissing:
        return L"missing";
    case FindingKind::FileUnreachable:
        return L"unreachable";
    case FindingKind::Unreadable:
        return L"unreadable";
    case FindingKind::WrongLibrary:
        return L"wrongLibrary";
    case FindingKind::DanglingInterface:
        return L"danglingInterface";
    case FindingKind::Shadowed:
        break;
    }
    return L"shadowed";
}

std::wstring FindingJson(const Finding& finding) {
    JsonObject json;
    json.Text(L"kind", KindWord(finding.kind));
    const Registration& registration = finding.registration;
    if (finding.kind == FindingKind::DanglingInterface) {
        return json.Text(L"scope", registration.scope == Scope::User ? L"user" : L"machine")
            .Number(L"view", registration.view == KEY_WOW64_32KEY ? 32 : 64)
            .Text(L"iid", GuidText(finding.iid))
            .Text(L"libid", GuidText(registration.id.guid))
            .Number(L"major", registration.id.major)
            .Number(L"minor", registration.id.minor)
            .Written();
    }
    json.Members(RegistrationJson(registration));
    switch (finding.kind) {
    case FindingKind::FileMissing:
        json.Json(L"repair", JsonStrings(RepairArguments(registration)));
        break;
    case FindingKind::Unreadable:
        json.Text(L"reason", finding.damaged ? L"damaged" : L"notTypeLibrary")
            .Text(L"status", StatusText(finding.status));
        break;
    case FindingKind::WrongLibrary:
        json.Json(L"declared", IdentityJson(finding.declared).Written())
            .Text(L"note", ui::kWrongLibraryNoRepair);
        break;
    case FindingKind::Shadowed:
        json.Json(L"shadows", RegistrationJson(finding.shadowed).Written());
        break;
    default:
        break;
    }
    return json.Written();
}

} // namespace

std::wstring FindingLine(const Finding& finding) {
    const Registration& registration = finding.registration;
    const std::wstring where = std::wstring(ScopeText(registration.scope)) + L" " +
                               IdentityText(registration.id, false) + L" " +
                               Quoted(registration.path);
    switch (finding.kind) {
    case FindingKind::FileMissing:
        return std::wstring(ui::kFileGone) + L" " + where + L" " + ui::kRepairLead + L" " +
               OrphanLine(registration);
    case FindingKind::FileUnreachable:
        return std::wstring(ui::kFileUnreachable) + L" " + where;
    case FindingKind::Unreadable:
        return std::wstring(ui::kFindingUnreadable) + L" " + where + L" " +
               UnreadableReason(finding) + L" (" + StatusText(finding.status) + L")";
    case FindingKind::WrongLibrary:
        return std::wstring(ui::kFindingWrongLibrary) + L" " + where + L" " + ui::kDeclaresLead +
               L" " + IdentityText(finding.declared, false) + L" " + ui::kWrongLibraryNoRepair;
    case FindingKind::DanglingInterface:
        return std::wstring(ui::kFindingDangling) + L" " + ScopeText(registration.scope) + L" " +
               (registration.view == KEY_WOW64_32KEY ? ui::kView32 : ui::kView64) + L" " +
               GuidText(finding.iid) + L" " + LibidAndVersion(registration.id);
    case FindingKind::Shadowed:
        break;
    }
    return std::wstring(ui::kFindingShadowed) + L" " + where + L" " + ui::kForMachine + L" " +
           Quoted(finding.shadowed.path);
}

int CheckAll(bool json) {
    std::vector<Finding> findings;
    size_t checked = 0;
    const RegistrarResult result = CheckRegistrations(findings, checked);
    const bool complete = result.flag == kTrue;
    std::wstring answer;
    if (json) {
        std::vector<std::wstring> listed;
        for (const Finding& finding : findings)
            listed.push_back(FindingJson(finding));
        answer = JsonDocument()
                     .Boolean(L"complete", complete)
                     .Number(L"checked", checked)
                     .Json(L"findings", JsonArray(listed))
                     .Written() +
                 L"\r\n";
    } else {
        for (const Finding& finding : findings)
            answer += FindingLine(finding) + L"\r\n";
    }
    CommandSeam()->WriteAnswer(answer);
    if (!complete) {
        CommandSeam()->WriteReason(ReasonLine(L"", L"", Reason::CheckStopped, result.status,
                                              ReasonText(ReasonOf(result.failure))));
        return kExitError;
    }
    return findings.empty() ? kExitSucceeded : kExitFailed;
}

} // namespace vandrel
