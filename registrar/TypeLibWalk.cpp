#include "registrar/TypeLibWalk.h"

#include "registrar/GuardedCalls.h"

#include <utility>

namespace vandrel {
namespace {

enum class HoldKind : BYTE { Info, TypeAttr, LibAttr };

// One object the walk holds; `owner` is the type info it goes back to.
struct Hold {
    HoldKind kind;
    ITypeInfo* owner;
    void* item;
};

// The library's attributes, or one type info and its attributes.
constexpr size_t kMaxHolds = 2;

// Everything the walk holds at any moment, kept outside the guarded frames
// so that what a faulting walk held can be given back after it.
struct Walk {
    const RegistrarPlatform* platform = nullptr;
    const wchar_t* path = nullptr;
    PlatformCall purpose = PlatformCall::Register;
    TypeLibIdentity* identity = nullptr;
    ITypeLib* library = nullptr;
    HRESULT status = S_OK;
    Hold holds[kMaxHolds];
    size_t held = 0;
    BSTR strings[2] = {};
};

void Give(const Walk& walk, const Hold& hold) {
    switch (hold.kind) {
    case HoldKind::Info:
        hold.owner->Release();
        break;
    case HoldKind::TypeAttr:
        hold.owner->ReleaseTypeAttr(static_cast<TYPEATTR*>(hold.item));
        break;
    case HoldKind::LibAttr:
        walk.library->ReleaseTLibAttr(static_cast<TLIBATTR*>(hold.item));
        break;
    }
}

// Each object leaves the record before it is given back: a fault in the
// release leaks it rather than releasing it twice.
void Drop(Walk& walk) {
    const Hold hold = walk.holds[--walk.held];
    Give(walk, hold);
}

void DropAll(Walk& walk) {
    while (walk.held)
        Drop(walk);
}

// Whatever the platform handed out is held, also with a failure status (and
// then given back unused); true when it may be read.
bool Obtained(Walk& walk, HRESULT status, HoldKind kind, ITypeInfo* owner, void* item) {
    if (!item) return false;
    if (walk.held == kMaxHolds) {
        Give(walk, Hold{kind, owner, item});
        walk.status = E_UNEXPECTED;
        return false;
    }
    walk.holds[walk.held++] = Hold{kind, owner, item};
    return status == S_OK;
}

void FreeStrings(Walk& walk) {
    for (BSTR& text : walk.strings)
        if (text) walk.platform->SysFreeString(std::exchange(text, nullptr));
}

// Registration names the library after its documentation (or its name) and
// each interface after its name.
void Document(Walk& walk, INT index) {
    if (walk.purpose != PlatformCall::Register) return;
    walk.library->GetDocumentation(index, &walk.strings[0],
                                   index == -1 ? &walk.strings[1] : nullptr, nullptr, nullptr);
    if (index == -1) {
        const BSTR named = walk.strings[1] ? walk.strings[1] : walk.strings[0];
        // By its terminator: the length prefix is the Automation library's to read.
        if (named) walk.identity->name = named;
    }
    FreeStrings(walk);
}

// Both calls go through the types by index, and read the attributes of
// each interface and dispinterface only.
void WalkTypeInfo(Walk& walk, UINT index) {
    ITypeLib* library = walk.library;
    TYPEKIND kind;
    if (library->GetTypeInfoType(index, &kind) != S_OK) return;
    Document(walk, static_cast<INT>(index));
    if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) return;
    ITypeInfo* info = nullptr;
    HRESULT status = library->GetTypeInfo(index, &info);
    if (Obtained(walk, status, HoldKind::Info, info, info)) {
        TYPEATTR* attr = nullptr;
        status = info->GetTypeAttr(&attr);
        // The platform writes (and removes) Interface keys for dispinterfaces,
        // dual ones included, and for interfaces meant for Automation only.
        if (Obtained(walk, status, HoldKind::TypeAttr, info, attr) &&
            (kind == TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION)))
            walk.identity->interfaces.push_back(attr->guid);
    }
    DropAll(walk);
}

void WalkLibrary(Walk& walk) {
    ITypeLib* library = walk.library;
    TLIBATTR* attr = nullptr;
    const HRESULT status = library->GetLibAttr(&attr);
    if (Obtained(walk, status, HoldKind::LibAttr, nullptr, attr)) {
        TypeLibIdentity& id = *walk.identity;
        id.guid = attr->guid;
        id.major = attr->wMajorVerNum;
        id.minor = attr->wMinorVerNum;
        id.lcid = attr->lcid;
        id.syskind = attr->syskind;
    }
    DropAll(walk);
    Document(walk, -1);
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count && walk.status == S_OK; ++i)
        WalkTypeInfo(walk, i);
}

void LoadBody(void* context) {
    Walk& walk = *static_cast<Walk*>(context);
    walk.status = walk.platform->LoadTypeLib(walk.path, &walk.library);
    if (walk.status != S_OK) return;
    if (!walk.library) {
        walk.status = E_POINTER;
        return;
    }
    WalkLibrary(walk);
}

void DropBody(void* context) {
    Drop(*static_cast<Walk*>(context));
}

void FreeStringsBody(void* context) {
    FreeStrings(*static_cast<Walk*>(context));
}

// Gives back, each under its own guard, whatever a failed walk still holds.
// A release that faults (or finds no guard) leaves its object to the process.
void GiveBack(Walk& walk) {
    DWORD fault = 0;
    while (walk.held)
        if (!walk.platform->RunGuarded(DropBody, &walk, &fault) && fault == 0) break;
    // Each pass frees every string or faults on one, which leaves the record.
    while (walk.strings[0] || walk.strings[1])
        if (!walk.platform->RunGuarded(FreeStringsBody, &walk, &fault) && fault == 0) break;
    ReleaseGuarded(*walk.platform, std::exchange(walk.library, nullptr));
}

} // namespace

HRESULT LoadAndWalk(const RegistrarPlatform& platform, const wchar_t* path, PlatformCall purpose,
                    ComPtr<ITypeLib>& library, TypeLibIdentity& identity) {
    Walk walk;
    walk.platform = &platform;
    walk.path = path;
    walk.purpose = purpose;
    walk.identity = &identity;
    DWORD fault = 0;
    const bool returned = platform.RunGuarded(LoadBody, &walk, &fault);
    if (returned && walk.status == S_OK) {
        library.reset(walk.library);
        return S_OK;
    }
    GiveBack(walk);
    return returned ? walk.status : FaultStatus(fault);
}

} // namespace vandrel
