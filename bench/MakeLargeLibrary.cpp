// Writes a type library with many types through the platform's own writer
// (widl stops at about 500 types).   MakeLargeLibrary out.tlb count
// For the platform it is built for: SYS_WIN32 from the 32-bit build.
// Half the types are dispinterfaces, which registration also writes under
// Interface; the other half are enumerations.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

GUID Numbered(unsigned kind, unsigned n) {
    GUID guid = {0x7b2d0000u + kind, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0}};
    guid.Data2 = static_cast<WORD>(n);
    guid.Data4[7] = static_cast<BYTE>(n >> 16);
    return guid;
}

bool Check(HRESULT status, const char* what) {
    if (status == S_OK) return true;
    std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(status));
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const unsigned count = static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10));
    ICreateTypeLib2* library = nullptr;
    const SYSKIND platform = sizeof(void*) == 4 ? SYS_WIN32 : SYS_WIN64;
    if (!Check(::CreateTypeLib2(platform, argv[1], &library), "CreateTypeLib2")) return 1;
    bool ok = Check(library->SetGuid(Numbered(0, 0)), "SetGuid") &&
              Check(library->SetVersion(1, 0), "SetVersion") &&
              Check(library->SetLcid(0), "SetLcid");
    std::wstring name = L"VandrelBench";
    ok = ok && Check(library->SetName(name.data()), "SetName");
    for (unsigned i = 0; ok && i < count; ++i) {
        const bool dispatch = i % 2 == 0;
        name = (dispatch ? L"DBench" : L"Bench") + std::to_wstring(i);
        ICreateTypeInfo* info = nullptr;
        ok = Check(
            library->CreateTypeInfo(name.data(), dispatch ? TKIND_DISPATCH : TKIND_ENUM, &info),
            "CreateTypeInfo");
        if (!ok) break;
        ok = Check(info->SetGuid(Numbered(dispatch ? 1 : 2, i)), "SetGuid");
        if (ok && !dispatch) {
            VARIANT value;
            value.vt = VT_I4;
            value.lVal = 1;
            VARDESC var{};
            var.memid = static_cast<MEMBERID>(0x40000000 + i);
            var.varkind = VAR_CONST;
            var.lpvarValue = &value;
            var.elemdescVar.tdesc.vt = VT_I4;
            std::wstring member = name + L"One";
            ok = Check(info->AddVarDesc(0, &var), "AddVarDesc") &&
                 Check(info->SetVarName(0, member.data()), "SetVarName");
        }
        info->Release();
    }
    ok = ok && Check(library->SaveAllChanges(), "SaveAllChanges");
    library->Release();
    return ok ? 0 : 1;
}
