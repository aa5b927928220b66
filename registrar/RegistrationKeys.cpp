#include "registrar/RegistrationKeys.h"

#include "common/Owned.h"

namespace vandrel {
namespace {

// An attribute record handed back to the object that lent it.
template <typename Source, typename Record, void (STDMETHODCALLTYPE Source::*Release)(Record*)>
class Lent {
public:
    explicit Lent(Source* source) : source_(source) {}
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;
    ~Lent() {
        if (record_) (source_->*Release)(record_);
    }
    Record** put() { return &record_; }
    const Record* get() const { return record_; }

private:
    Source* source_;
    Record* record_ = nullptr;
};
using LentLibAttr = Lent<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;
using LentTypeAttr = Lent<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;

} // namespace

std::wstring GuidKeyName(const GUID& guid) {
    // By hand: the formatted-print family would link a few dozen kilobytes.
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(38);
    auto put = [&](unsigned long value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            text.push_back(kHex[(value >> shift) & 0xF]);
    };
    text.push_back(L'{');
    put(guid.Data1, 8);
    text.push_back(L'-');
    put(guid.Data2, 4);
    text.push_back(L'-');
    put(guid.Data3, 4);
    text.push_back(L'-');
    for (int i = 0; i < 8; ++i) {
        if (i == 2) text.push_back(L'-');
        put(guid.Data4[i], 2);
    }
    text.push_back(L'}');
    return text;
}

std::vector<std::wstring> RegistrationKeys(const GUID& library,
                                           const std::vector<GUID>& interfaces) {
    std::vector<std::wstring> keys;
    keys.reserve(interfaces.size() + 1);
    keys.push_back(L"TypeLib\\" + GuidKeyName(library));
    for (const GUID& iid : interfaces)
        keys.push_back(L"Interface\\" + GuidKeyName(iid));
    return keys;
}

std::optional<std::vector<std::wstring>> RegistrationKeysOf(ITypeLib* library) {
    GUID id;
    {
        LentLibAttr attr(library);
        if (library->GetLibAttr(attr.put()) != S_OK || !attr.get()) return std::nullopt;
        id = attr.get()->guid;
    }
    std::vector<GUID> interfaces;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (library->GetTypeInfoType(i, &kind) != S_OK) return std::nullopt;
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) continue;
        ComPtr<ITypeInfo> info;
        if (library->GetTypeInfo(i, info.put()) != S_OK || !info) return std::nullopt;
        LentTypeAttr attr(info.get());
        if (info->GetTypeAttr(attr.put()) != S_OK || !attr.get()) return std::nullopt;
        interfaces.push_back(attr.get()->guid);
    }
    return RegistrationKeys(id, interfaces);
}

} // namespace vandrel
