#include "registrar/worker/TypeLibWalk.h"

#include "common/Owned.h"

namespace vandrel::worker {
namespace {

// A type info's attribute record, handed back to the type info.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) : info_(info) {
        if (info_->GetTypeAttr(&attr_) != S_OK) Release();
    }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() { Release(); }
    const TYPEATTR* get() const { return attr_; }

private:
    void Release() {
        if (attr_) info_->ReleaseTypeAttr(attr_);
        attr_ = nullptr;
    }
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

class StringOwner {
public:
    explicit StringOwner(const RegistrarPlatform& platform) : platform_(platform) {}
    StringOwner(const StringOwner&) = delete;
    StringOwner& operator=(const StringOwner&) = delete;
    ~StringOwner() {
        if (text) platform_.SysFreeString(text);
    }
    BSTR text = nullptr;

private:
    const RegistrarPlatform& platform_;
};

// Registration names the library after its help string, or else its name,
// and gives it no name where it has neither.
bool ReadName(const RegistrarPlatform& platform, ITypeLib* library, std::wstring& name) {
    StringOwner named(platform), help(platform);
    library->GetDocumentation(-1, &named.text, &help.text, nullptr, nullptr);
    // By its terminator: the length prefix is the Automation library's to read.
    const BSTR text = help.text ? help.text : named.text;
    if (text) name = text;
    return text != nullptr;
}

// The key's name is the type's; its proxy is the dispatch proxy for a
// dispinterface and the Automation proxy for any other interface, a dual
// one included.
InterfaceEntry Entry(const RegistrarPlatform& platform, ITypeLib* library, UINT index,
                     const TYPEATTR& attr) {
    InterfaceEntry entry;
    entry.iid = attr.guid;
    entry.dispatchProxy = attr.typekind == TKIND_DISPATCH && !(attr.wTypeFlags & TYPEFLAG_FDUAL);
    StringOwner named(platform);
    library->GetDocumentation(static_cast<INT>(index), &named.text, nullptr, nullptr, nullptr);
    entry.named = named.text != nullptr;
    if (named.text) entry.name = named.text;
    return entry;
}

} // namespace

HRESULT WalkLibrary(const RegistrarPlatform& platform, ITypeLib* library, PlatformCall purpose,
                    LibraryReport& report, EntriesReport* entries) {
    TLIBATTR* attr = nullptr;
    const HRESULT status = library->GetLibAttr(&attr);
    if (!attr) return status == S_OK ? E_POINTER : status;
    if (status == S_OK)
        report.id = {attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind};
    if (status == S_OK && entries) entries->libFlags = attr->wLibFlags;
    library->ReleaseTLibAttr(attr);
    if (status != S_OK) return status;
    if (purpose == PlatformCall::Register) {
        const bool named = ReadName(platform, library, report.name);
        if (entries) entries->libNamed = named;
    }
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (library->GetTypeInfoType(i, &kind) != S_OK) continue;
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) continue;
        ComPtr<ITypeInfo> info;
        if (library->GetTypeInfo(i, info.put()) != S_OK || !info) continue;
        const TypeAttr typeAttr(info.get());
        // The platform writes (and removes) Interface keys for dispinterfaces,
        // dual ones included, and for interfaces meant for Automation only.
        if (!typeAttr.get() ||
            (kind != TKIND_DISPATCH && !(typeAttr.get()->wTypeFlags & TYPEFLAG_FOLEAUTOMATION)))
            continue;
        report.interfaces.push_back(typeAttr.get()->guid);
        if (entries) entries->interfaces.push_back(Entry(platform, library, i, *typeAttr.get()));
    }
    return S_OK;
}

} // namespace vandrel::worker
