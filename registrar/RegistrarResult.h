// What a registrar call did, and for whom.
#pragma once

#include "common/Flag.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace vandrel {

// Which of the platform's two calls a step prepares for: the walk reads
// ahead of it, the undo records what it may change.
enum class PlatformCall { Register, Unregister };

// One registration of a library as the registry names it: its libid,
// version, locale and platform.
struct LibraryId {
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
};

// What a library file declares, as a person asks for it.
struct LibraryFacts {
    LibraryId id;
    std::wstring name;
    size_t interfaces = 0; // those its registration writes Interface keys for
};

// Whose registration a call writes or removes: the machine's (through
// HKEY_CLASSES_ROOT) or the current user's (HKCU\Software\Classes only).
enum class Scope { Machine, User };

// What the file a registration names is: there (perhaps damaged), gone (it,
// or a folder on its path, is not found on a volume that answers), or
// unreachable (anything else). The path is taken as the registry holds it.
enum class FileState { There, Gone, Unreachable };

// One registration as the registry holds it: a leaf
// TypeLib\{libid}\<version>\<locale>\<platform>, where it was found, and
// the path it names.
struct Registration {
    Scope scope;
    REGSAM view; // KEY_WOW64_64KEY or KEY_WOW64_32KEY
    LibraryId id;
    std::wstring path;
    FileState file;
};

// What a check of every registration finds, one kind to a fault: a file that
// is gone or cannot be looked at; one the loader cannot read; one that holds
// another library than its key names; an Interface key naming a libid and
// version nothing registers; a user's registration hiding the machine's.
enum class FindingKind {
    FileMissing,
    FileUnreachable,
    Unreadable,
    WrongLibrary,
    DanglingInterface,
    Shadowed,
};

// One finding. `registration` is the one at fault, read once per scope
// (its view is 0: TypeLib keys are shared between the views); for a
// dangling interface, its scope and view, and in `id` the libid and
// version the key names.
struct Finding {
    FindingKind kind = FindingKind::FileMissing;
    Registration registration = {};
    HRESULT status = S_OK;      // Unreadable: why the loader failed
    bool damaged = false;       // Unreadable: damaged, else no type library
    LibraryId declared;         // WrongLibrary: what the file declares
    IID iid{};                  // DanglingInterface
    Registration shadowed = {}; // Shadowed: the machine's registration
};

// Why a call failed, as far as a person or a caller can act on it.
enum class Failure {
    None,
    NoFile,        // no such file (or not a plain file: a folder, a device)
    NotTypeLib,    // the loader found no type library in it
    Damaged,       // refused as damaged: it ends early, or reading it crashed, ran
                   // past the worker's time or memory bound, or left no sound report
    NotRegistered, // nothing of this identity is registered to remove
    NoRights,      // the platform refused the registration call for lack of rights
    Busy,          // another registration holds the turn, or the turn cannot be had
    Untrusted,     // the turn's name is taken by an object that is not a turn we can trust
    Platform,      // the platform's registration call failed for another reason
    NotRestored,   // the call failed and what it changed could not all be put back
    Unexpected,    // the worker that reads libraries could not be started or placed in its job
};

struct RegistrarResult {
    // A bare flag: success, or a failure of no particular cause.
    RegistrarResult(Flag result = kFalse)
        : flag(result), failure(result == kTrue ? Failure::None : Failure::Platform) {}
    RegistrarResult(Flag result, Failure cause, HRESULT code = S_OK)
        : flag(result), failure(cause), status(code) {}
    Flag flag; // as RegisterLibrary and UnregisterLibrary give it
    Failure failure;
    HRESULT status = S_OK; // the status that decided a failure, where there is one
};

} // namespace vandrel
