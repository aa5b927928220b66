#include "registrar/RegistrationKeys.h"

namespace vandrel {
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

std::wstring HexName(unsigned long value) {
    std::wstring text;
    do {
        text.insert(text.begin(), L"0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value);
    return text;
}

namespace {

// What registration writes into an interface's key: the interface's name,
// its proxy and stub class in both forms, and the library and version it
// belongs to.
const RegistryUndo::Shape kDefaultValue = {{L""}, {}};
const RegistryUndo::Shape kLibraryReference = {{L"", L"Version"}, {}};
const RegistryUndo::Shape kInterfaceWrites = {{L""},
                                              {{L"ProxyStubClsid", &kDefaultValue},
                                               {L"ProxyStubClsid32", &kDefaultValue},
                                               {L"TypeLib", &kLibraryReference}}};

} // namespace

std::vector<RegistryUndo::Watched>
RegistrationKeys(const GUID& library, const std::vector<GUID>& interfaces, bool writesOnly) {
    std::vector<RegistryUndo::Watched> keys;
    keys.reserve(interfaces.size() + 1);
    keys.push_back({L"TypeLib\\" + GuidKeyName(library)});
    for (const GUID& iid : interfaces)
        keys.push_back(
            {L"Interface\\" + GuidKeyName(iid), writesOnly ? &kInterfaceWrites : nullptr});
    return keys;
}

} // namespace vandrel
