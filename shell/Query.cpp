#include "shell/Query.h"

#include "registrar/ModVandrel.h"
#include "shell/JsonText.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

namespace vandrel {

// A name or path as /q quotes it. It comes from a file or the registry, so
// it may hold anything: a control character (C0, DEL, C1) is written as
// \xNN and a quotation mark doubled, so that no text can drive the terminal
// or end the field and forge a line. Backslashes stay: paths are full of them.
std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            quoted += L"\\x";
            quoted += L"0123456789ABCDEF"[(c >> 4) & 0xF];
            quoted += L"0123456789ABCDEF"[c & 0xF];
        } else {
            quoted += c;
            if (c == L'"') quoted += c;
        }
    }
    return quoted + L"\"";
}

const wchar_t* FileStateText(FileState state) {
    switch (state) {
    case FileState::There:
        return ui::kFileThere;
    case FileState::Gone:
        return ui::kFileGone;
    case FileState::Unreachable:
        break;
    }
    return ui::kFileUnreachable;
}

const wchar_t* FileStateWord(FileState state) {
    switch (state) {
    case FileState::There:
        return L"present";
    case FileState::Gone:
        return L"missing";
    case FileState::Unreachable:
        break;
    }
    return L"unreachable";
}

// A text's words, cut at single spaces.
std::vector<std::wstring> Words(const std::wstring& text) {
    std::vector<std::wstring> words{L""};
    for (wchar_t c : text)
        if (c == L' ')
            words.emplace_back();
        else
            words.back() += c;
    return words;
}

JsonObject IdentityJson(const LibraryId& id) {
    // The libid and platform as the registry names them: "{…} 1.0 0 win64".
    const std::vector<std::wstring> words = Words(IdentityText(id, false));
    JsonObject json;
    json.Text(L"libid", words[0])
        .Number(L"major", id.major)
        .Number(L"minor", id.minor)
        .Number(L"lcid", id.lcid)
        .Text(L"platform", words[3]);
    return json;
}

JsonObject RegistrationJson(const Registration& registration) {
    JsonObject json = IdentityJson(registration.id);
    json.Text(L"scope", registration.scope == Scope::User ? L"user" : L"machine");
    if (registration.view) json.Number(L"view", registration.view == KEY_WOW64_32KEY ? 32 : 64);
    return json.Text(L"path", registration.path).Text(L"file", FileStateWord(registration.file));
}

std::vector<std::wstring> RepairArguments(const Registration& registration) {
    std::vector<std::wstring> arguments = Words(IdentityText(registration.id, true) + L" /u");
    if (registration.scope == Scope::User) arguments.push_back(L"/user");
    return arguments;
}

std::wstring LibraryLine(const LibraryFacts& facts) {
    const LibraryId& id = facts.id;
    return std::wstring(ui::kLibraryLead) + L" " + Quoted(facts.name) + L" " +
           IdentityText(id, false) + L" " + ui::kInterfaceCount + L" " +
           DecimalText(facts.interfaces);
}

std::wstring RegistrationLine(const Registration& registration) {
    const LibraryId& id = registration.id;
    return std::wstring(ui::kRegistrationLead) + L" " +
           (registration.scope == Scope::User ? ui::kForUser : ui::kForMachine) + L" " +
           (registration.view == KEY_WOW64_32KEY ? ui::kView32 : ui::kView64) + L" " +
           LocaleAndPlatformText(id) + L" " + Quoted(registration.path) + L" " +
           FileStateText(registration.file);
}

std::wstring OrphanLine(const Registration& registration) {
    std::wstring line;
    for (const std::wstring& argument : RepairArguments(registration))
        line += (line.empty() ? L"" : L" ") + argument;
    return line;
}

int Query(const CommandLine& line) {
    LibraryFacts facts;
    if (line.byIdentity) {
        facts = RegisteredFacts(line.identity);
    } else if (const RegistrarResult described = DescribeLibrary(line.path, facts);
               described.flag != kTrue) {
        CommandSeam()->WriteReason(
            ReasonLine(L"", line.path, ReasonOf(described.failure), described.status, line.path));
        return kExitFailed;
    }
    const auto registrations = RegistrationsOf(facts.id);
    std::wstring answer;
    if (line.json) {
        std::vector<std::wstring> listed;
        for (const Registration& registration : registrations)
            listed.push_back(RegistrationJson(registration).Written());
        JsonObject library = IdentityJson(facts.id);
        library.Text(L"name", facts.name).Number(L"interfaces", facts.interfaces);
        answer = JsonDocument()
                     .Json(L"library", library.Written())
                     .Json(L"registrations", JsonArray(listed))
                     .Written() +
                 L"\r\n";
    } else {
        answer = LibraryLine(facts) + L"\r\n";
        for (const Registration& registration : registrations)
            answer += RegistrationLine(registration) + L"\r\n";
    }
    CommandSeam()->WriteAnswer(answer);
    return registrations.empty() ? kExitFailed : kExitSucceeded;
}

int ListOrphans(bool json) {
    std::wstring lines;
    std::vector<std::wstring> listed;
    // Only a file that is gone makes an orphan: one that cannot be reached
    // (no access, no drive, no answer) may well be there.
    for (const Registration& registration : AllRegistrations()) {
        if (registration.file != FileState::Gone) continue;
        lines += OrphanLine(registration) + L"\r\n";
        listed.push_back(RegistrationJson(registration)
                             .Json(L"repair", JsonStrings(RepairArguments(registration)))
                             .Written());
    }
    CommandSeam()->WriteAnswer(
        json ? JsonDocument().Json(L"orphans", JsonArray(listed)).Written() + L"\r\n" : lines);
    return kExitSucceeded;
}

} // namespace vandrel
