// A check of the whole TypeLib tree, for the machine and the user: every
// file registration's file, read in the worker as registering it reads it,
// every Interface key's library, and the user's registrations over the
// machine's. It only reads: nothing it finds is repaired here.
#include "registrar/ModVandrel.h"

#include "common/SameText.h"
#include "registrar/host/LoadablePath.h"
#include "registrar/host/Worker.h"
#include "registrar/registry/IdentityRemoval.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/TypeLibRegistrations.h"

#include <memory>
#include <utility>

namespace vandrel {
namespace {

bool SameIdentity(const LibraryId& a, const LibraryId& b) {
    return IsEqualGUID(a.guid, b.guid) && a.major == b.major && a.minor == b.minor &&
           a.lcid == b.lcid && a.syskind == b.syskind;
}

Finding Found(FindingKind kind, const Registration& registration) {
    Finding finding;
    finding.kind = kind;
    finding.registration = registration;
    return finding;
}

// What reading one file gave: the library it declares, or why it failed.
struct FileRead {
    std::wstring path;
    RegistrarResult result;
    LibraryId declared;
};

// Reads files in a worker that is replaced after any failure: a worker that
// refused a file, or died of one, is not trusted with the next. A file that
// fails in a worker that has read others is read again in a fresh one, and
// only a failure there is the file's own.
class FileReader {
public:
    const FileRead& Read(const std::wstring& path) {
        for (const FileRead& known : reads_)
            if (SameText(known.path, path)) return known;
        FileRead read{path, kTrue, {}};
        const Resolved file = Resolve(path);
        if (file.failure != Failure::None) {
            read.result = {kFalse, file.failure, file.status};
        } else {
            for (;;) {
                if (!worker_) {
                    worker_ = std::make_unique<WorkerClient>();
                    used_ = 0;
                }
                const bool fresh = used_++ == 0;
                worker::LibraryReport report;
                read.result =
                    worker_->Load(file.path, file.fileBytes, PlatformCall::Register, report);
                read.declared = report.id;
                if (read.result.flag == kTrue) break;
                worker_.reset();
                if (fresh || read.result.failure == Failure::Unexpected) break;
            }
        }
        reads_.push_back(std::move(read));
        return reads_.back();
    }

private:
    std::unique_ptr<WorkerClient> worker_;
    size_t used_ = 0;
    std::vector<FileRead> reads_;
};

// The finding of one file registration, if it has one. False when the
// check cannot go on (the worker cannot be started).
bool JudgeFile(FileReader& reader, const Registration& leaf, std::vector<Finding>& findings,
               RegistrarResult& stopped) {
    if (leaf.file == FileState::Gone) {
        findings.push_back(Found(FindingKind::FileMissing, leaf));
        return true;
    }
    if (leaf.file == FileState::Unreachable) {
        findings.push_back(Found(FindingKind::FileUnreachable, leaf));
        return true;
    }
    const FileRead& read = reader.Read(leaf.path);
    if (read.result.failure == Failure::Unexpected) {
        stopped = read.result;
        return false;
    }
    if (read.result.flag != kTrue) {
        Finding finding = Found(FindingKind::Unreadable, leaf);
        finding.status = read.result.status;
        finding.damaged = read.result.failure == Failure::Damaged;
        findings.push_back(std::move(finding));
    } else if (!SameIdentity(read.declared, leaf.id)) {
        Finding finding = Found(FindingKind::WrongLibrary, leaf);
        finding.declared = read.declared;
        findings.push_back(std::move(finding));
    }
    return true;
}

// Whether an Interface key names a libid and version that no leaf, with a
// path or without, registers: `named` is what it names. A key whose TypeLib
// value is no braced GUID, or whose version cannot be read, names none.
bool Dangles(const std::vector<Registration>& leaves, const InterfaceReference& reference,
             LibraryId& named) {
    if (!ParseGuid(reference.library, named.guid) ||
        !ParseVersion(reference.version, named.major, named.minor))
        return false;
    for (const Registration& leaf : leaves)
        if (IsEqualGUID(leaf.id.guid, named.guid) && leaf.id.major == named.major &&
            leaf.id.minor == named.minor)
            return false;
    return true;
}

// The view a finding names: the process's own where the registry calls
// were made without a flag.
REGSAM FindingView(REGSAM view) {
    if (view) return view;
    return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

} // namespace

RegistrarResult CheckRegistrations(std::vector<Finding>& findings, size_t& checked) {
    const RegistrarPlatform& registry = *RegistrarSeam();
    std::vector<Registration> leaves;
    for (Scope scope : {Scope::Machine, Scope::User}) {
        LSTATUS status = ERROR_SUCCESS;
        std::vector<Registration> found = ScopeRegistrations(registry, scope, status);
        if (status != ERROR_SUCCESS) return {kFalse, Failure::Platform, HRESULT_FROM_WIN32(status)};
        for (Registration& leaf : found)
            leaves.push_back(std::move(leaf));
    }
    checked = 0;
    FileReader reader;
    RegistrarResult stopped = kTrue;
    for (const Registration& leaf : leaves) {
        // A leaf without a path is no file registration: some tweaks write
        // them on purpose.
        if (leaf.path.empty()) continue;
        ++checked;
        if (!JudgeFile(reader, leaf, findings, stopped)) return stopped;
    }
    for (const Registration& user : leaves) {
        if (user.scope != Scope::User || user.path.empty()) continue;
        for (const Registration& machine : leaves)
            if (machine.scope == Scope::Machine && !machine.path.empty() &&
                SameIdentity(machine.id, user.id) && !SameFile(machine.path, user.path)) {
                Finding finding = Found(FindingKind::Shadowed, user);
                finding.shadowed = machine;
                findings.push_back(std::move(finding));
            }
    }
    // An interface key of either scope may name a library of either: the
    // classes a client reads merge them.
    for (Scope scope : {Scope::Machine, Scope::User})
        for (REGSAM view : InterfaceViews())
            for (const InterfaceReference& reference : InterfaceReferences(registry, scope, view)) {
                LibraryId named;
                if (!Dangles(leaves, reference, named)) continue;
                Finding finding = Found(FindingKind::DanglingInterface,
                                        {scope, FindingView(view), named, L"", FileState::There});
                finding.iid = reference.iid;
                findings.push_back(std::move(finding));
            }
    return kTrue;
}

} // namespace vandrel
