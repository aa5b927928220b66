#include "shell/Query.h"

#include "registrar/ModVandrel.h"
#include "shell/ReasonLine.h"
#include "shell/Texts.h"

namespace vandrel {
namespace {

// A count in decimal. (std::to_wstring would link the C library's whole
// formatted printing, a tenth of the executable.)
std::wstring Decimal(size_t value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value);
    return digits;
}

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

} // namespace

std::wstring LibraryLine(const LibraryFacts& facts) {
    const LibraryId& id = facts.id;
    return std::wstring(ui::kLibraryLead) + L" " + Quoted(facts.name) + L" " +
           IdentityText(id, false) + L" " + ui::kInterfaceCount + L" " + Decimal(facts.interfaces);
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
    std::wstring line = IdentityText(registration.id, true) + L" /u";
    if (registration.scope == Scope::User) line += L" /user";
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
    std::wstring answer = LibraryLine(facts) + L"\r\n";
    const auto registrations = RegistrationsOf(facts.id);
    for (const Registration& registration : registrations)
        answer += RegistrationLine(registration) + L"\r\n";
    CommandSeam()->WriteAnswer(answer);
    return registrations.empty() ? kExitFailed : kExitSucceeded;
}

int ListOrphans() {
    std::wstring answer;
    // Only a file that is gone makes an orphan: one that cannot be reached
    // (no access, no drive, no answer) may well be there.
    for (const Registration& registration : AllRegistrations())
        if (registration.file == FileState::Gone) answer += OrphanLine(registration) + L"\r\n";
    CommandSeam()->WriteAnswer(answer);
    return kExitSucceeded;
}

} // namespace vandrel
