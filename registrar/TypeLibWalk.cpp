#include "registrar/TypeLibWalk.h"

#include "registrar/GuardedPlatform.h"

#include <utility>

namespace vandrel {
namespace {

enum class HoldKind : BYTE { Info, TypeAttr, FuncDesc, VarDesc, LibAttr };

// One object the walk holds; `owner` is the type info it goes back to.
struct Hold {
    HoldKind kind;
    ITypeInfo* owner;
    void* item;
};

// A type info, its attributes and member, one referenced type and its
// attributes, and two links of a base-interface chain at most.
constexpr size_t kMaxHolds = 16;

// Everything the walk holds at any moment, kept outside the guarded frames
// so that what a faulting walk held can be given back after it.
struct Walk {
    const RegistrarPlatform* platform = nullptr;
    const wchar_t* path = nullptr;
    TypeLibIdentity* identity = nullptr;
    ITypeLib* library = nullptr;
    HRESULT status = S_OK;
    Hold holds[kMaxHolds];
    size_t held = 0;
    BSTR strings[3] = {};
    std::vector<BSTR> names;
    // Read, so that the array bounds are really fetched.
    ULONG bounds = 0;
};

void Give(const Walk& walk, const Hold& hold) {
    switch (hold.kind) {
    case HoldKind::Info:
        hold.owner->Release();
        break;
    case HoldKind::TypeAttr:
        hold.owner->ReleaseTypeAttr(static_cast<TYPEATTR*>(hold.item));
        break;
    case HoldKind::FuncDesc:
        hold.owner->ReleaseFuncDesc(static_cast<FUNCDESC*>(hold.item));
        break;
    case HoldKind::VarDesc:
        hold.owner->ReleaseVarDesc(static_cast<VARDESC*>(hold.item));
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

void DropTo(Walk& walk, size_t mark) {
    while (walk.held > mark)
        Drop(walk);
}

bool Keep(Walk& walk, HoldKind kind, ITypeInfo* owner, void* item) {
    if (walk.held == kMaxHolds) {
        Give(walk, Hold{kind, owner, item});
        walk.status = E_UNEXPECTED;
        return false;
    }
    walk.holds[walk.held++] = Hold{kind, owner, item};
    return true;
}

// Whatever the platform handed out is held, also with a failure status (and
// then given back unused); true when it may be read.
bool Obtained(Walk& walk, HRESULT status, HoldKind kind, ITypeInfo* owner, void* item) {
    if (!item) return false;
    return Keep(walk, kind, owner, item) && status == S_OK;
}

void FreeStrings(Walk& walk) {
    for (BSTR& text : walk.strings)
        if (text) walk.platform->SysFreeString(std::exchange(text, nullptr));
    for (BSTR& text : walk.names)
        if (text) walk.platform->SysFreeString(std::exchange(text, nullptr));
}

void Document(Walk& walk, ITypeInfo* info, MEMBERID member) {
    info->GetDocumentation(member, &walk.strings[0], &walk.strings[1], nullptr, &walk.strings[2]);
    FreeStrings(walk);
}

void Names(Walk& walk, ITypeInfo* info, MEMBERID member, UINT count) {
    walk.names.assign(count, nullptr);
    UINT got = 0;
    info->GetNames(member, walk.names.data(), count, &got);
    FreeStrings(walk);
}

// A referenced type and its attributes; its own members are walked where
// the type itself is.
void WalkReference(Walk& walk, ITypeInfo* info, HREFTYPE reference) {
    const size_t mark = walk.held;
    ITypeInfo* target = nullptr;
    HRESULT status = info->GetRefTypeInfo(reference, &target);
    if (Obtained(walk, status, HoldKind::Info, target, target)) {
        TYPEATTR* attr = nullptr;
        status = target->GetTypeAttr(&attr);
        Obtained(walk, status, HoldKind::TypeAttr, target, attr);
    }
    DropTo(walk, mark);
}

void WalkTypeDesc(Walk& walk, ITypeInfo* info, const TYPEDESC* desc) {
    for (int depth = 0; desc; ++depth) {
        if (depth == kMaxReferenceDepth) {
            walk.status = TYPE_E_CIRCULARTYPE;
            return;
        }
        switch (desc->vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            desc = desc->lptdesc;
            break;
        case VT_CARRAY: {
            const ARRAYDESC* array = desc->lpadesc;
            if (!array) return;
            for (USHORT i = 0; i < array->cDims; ++i)
                walk.bounds += array->rgbounds[i].cElements;
            desc = &array->tdescElem;
            break;
        }
        case VT_USERDEFINED:
            WalkReference(walk, info, desc->hreftype);
            return;
        default:
            return;
        }
    }
}

// An implemented type and, through each one's first implemented type, the
// interfaces it derives from, as registration follows them.
void WalkImplType(Walk& walk, ITypeInfo* info, UINT index) {
    if (index != static_cast<UINT>(-1)) {
        INT flags = 0;
        info->GetImplTypeFlags(index, &flags);
    }
    HREFTYPE reference = 0;
    if (info->GetRefTypeOfImplType(index, &reference) != S_OK) return;
    const size_t mark = walk.held;
    ITypeInfo* from = info;
    for (int depth = 0;; ++depth) {
        if (depth == kMaxReferenceDepth) {
            walk.status = TYPE_E_CIRCULARTYPE;
            break;
        }
        ITypeInfo* next = nullptr;
        const HRESULT found = from->GetRefTypeInfo(reference, &next);
        if (!Obtained(walk, found, HoldKind::Info, next, next)) break;
        if (walk.held - mark == 2) {
            // Only the link the chain goes on from stays held.
            const Hold top = walk.holds[--walk.held];
            Drop(walk);
            walk.holds[walk.held++] = top;
        }
        from = next;
        TYPEATTR* attr = nullptr;
        const HRESULT read = from->GetTypeAttr(&attr);
        if (!Obtained(walk, read, HoldKind::TypeAttr, from, attr)) break;
        const bool derived = attr->cImplTypes > 0 && (attr->typekind == TKIND_INTERFACE ||
                                                      attr->typekind == TKIND_DISPATCH);
        Drop(walk);
        if (!derived || from->GetRefTypeOfImplType(0, &reference) != S_OK) break;
    }
    DropTo(walk, mark);
}

void WalkFunction(Walk& walk, ITypeInfo* info, UINT index) {
    const size_t mark = walk.held;
    FUNCDESC* func = nullptr;
    const HRESULT status = info->GetFuncDesc(index, &func);
    if (!Obtained(walk, status, HoldKind::FuncDesc, info, func)) {
        DropTo(walk, mark);
        return;
    }
    if (func->cParams < 0 || (func->cParams > 0 && !func->lprgelemdescParam)) {
        walk.status = TYPE_E_INVALIDSTATE;
    } else {
        Names(walk, info, func->memid, static_cast<UINT>(func->cParams) + 1);
        Document(walk, info, func->memid);
        WalkTypeDesc(walk, info, &func->elemdescFunc.tdesc);
        for (SHORT i = 0; i < func->cParams && walk.status == S_OK; ++i)
            WalkTypeDesc(walk, info, &func->lprgelemdescParam[i].tdesc);
    }
    DropTo(walk, mark);
}

void WalkVariable(Walk& walk, ITypeInfo* info, UINT index) {
    const size_t mark = walk.held;
    VARDESC* var = nullptr;
    const HRESULT status = info->GetVarDesc(index, &var);
    if (!Obtained(walk, status, HoldKind::VarDesc, info, var)) {
        DropTo(walk, mark);
        return;
    }
    Names(walk, info, var->memid, 1);
    Document(walk, info, var->memid);
    WalkTypeDesc(walk, info, &var->elemdescVar.tdesc);
    DropTo(walk, mark);
}

void WalkTypeInfo(Walk& walk, UINT index) {
    const size_t mark = walk.held;
    ITypeLib* library = walk.library;
    library->GetDocumentation(static_cast<INT>(index), &walk.strings[0], &walk.strings[1], nullptr,
                              &walk.strings[2]);
    FreeStrings(walk);
    TYPEKIND kind;
    library->GetTypeInfoType(index, &kind);
    ITypeInfo* info = nullptr;
    HRESULT status = library->GetTypeInfo(index, &info);
    if (!Obtained(walk, status, HoldKind::Info, info, info)) {
        DropTo(walk, mark);
        return;
    }
    TYPEATTR* attr = nullptr;
    status = info->GetTypeAttr(&attr);
    if (Obtained(walk, status, HoldKind::TypeAttr, info, attr)) {
        if (attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH)
            walk.identity->interfaces.push_back(attr->guid);
        Document(walk, info, MEMBERID_NIL);
        for (UINT i = 0; i < attr->cFuncs && walk.status == S_OK; ++i)
            WalkFunction(walk, info, i);
        for (UINT i = 0; i < attr->cVars && walk.status == S_OK; ++i)
            WalkVariable(walk, info, i);
        if (attr->typekind == TKIND_ALIAS) WalkTypeDesc(walk, info, &attr->tdescAlias);
        for (UINT i = 0; i < attr->cImplTypes && walk.status == S_OK; ++i)
            WalkImplType(walk, info, i);
        if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL) &&
            walk.status == S_OK)
            WalkImplType(walk, info, static_cast<UINT>(-1));
    }
    DropTo(walk, mark);
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
    DropTo(walk, 0);
    library->GetDocumentation(-1, &walk.strings[0], &walk.strings[1], nullptr, &walk.strings[2]);
    FreeStrings(walk);
    const UINT count = library->GetTypeInfoCount();
    if (count > kMaxTypeInfos) {
        walk.status = TYPE_E_SIZETOOBIG;
        return;
    }
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
    for (;;) {
        bool left = false;
        for (BSTR text : walk.strings)
            left |= text != nullptr;
        for (BSTR text : walk.names)
            left |= text != nullptr;
        if (!left) break;
        if (!walk.platform->RunGuarded(FreeStringsBody, &walk, &fault) && fault == 0) break;
    }
    ReleaseGuarded(*walk.platform, std::exchange(walk.library, nullptr));
}

} // namespace

HRESULT LoadAndWalk(const RegistrarPlatform& platform, const wchar_t* path,
                    ComPtr<ITypeLib>& library, TypeLibIdentity& identity) {
    Walk walk;
    walk.platform = &platform;
    walk.path = path;
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
