// The floor for registration: load a library without registering it, then
// register it. Nothing else: no message, no window, no checks.
#include <windows.h>
#include <oleauto.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    // The path is the first space-separated token, as Vandrel takes it.
    for (wchar_t* p = arguments; *p; ++p)
        if (*p == L' ') *p = L'\0';
    ITypeLib* library = nullptr;
    if (::LoadTypeLibEx(arguments, REGKIND_NONE, &library) != S_OK) return 1;
    wchar_t noHelp[] = L"";
    const HRESULT status = ::RegisterTypeLib(library, arguments, noHelp);
    library->Release();
    return status == S_OK ? 0 : 1;
}
