// The floor for unregistration: load a library, read its identity and remove
// the registration of that identity.
#include <windows.h>
#include <oleauto.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    for (wchar_t* p = arguments; *p; ++p)
        if (*p == L' ') *p = L'\0';
    ITypeLib* library = nullptr;
    if (::LoadTypeLibEx(arguments, REGKIND_NONE, &library) != S_OK) return 1;
    TLIBATTR* attr = nullptr;
    HRESULT status = library->GetLibAttr(&attr);
    if (status == S_OK) {
        status = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                     attr->syskind);
        library->ReleaseTLibAttr(attr);
    }
    library->Release();
    return status == S_OK ? 0 : 1;
}
