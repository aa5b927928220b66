// Loads a type library and adds or removes its registration through the
// Automation library, reducing the platform's statuses to one flag.
#pragma once

#include "common/Flag.h"
#include "registrar/PlatformGuard.h"
#include "registrar/RegistryUndo.h"

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

namespace vandrel {

// The platform calls of the registrar that unit tests make fail: the
// Automation library's, the scratch block's and the registry's. The loaded
// library's own calls (GetLibAttr, ReleaseTLibAttr, Release) go through the
// ITypeLib that LoadTypeLib hands back. The file probes, the file mapping of
// the structural check and the registration turn (a named mutex) are made
// directly: they are tested with real files and processes. Loading (with
// the walk of what was loaded), registering and unregistering run inside
// RunGuarded.
struct RegistrarPlatform {
    HRESULT(WINAPI* LoadTypeLib)(const wchar_t* path, ITypeLib** library);
    HRESULT(WINAPI* RegisterTypeLib)(ITypeLib* library, wchar_t* path, wchar_t* helpDir);
    HRESULT(WINAPI* UnRegisterTypeLib)
    (REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
    HLOCAL(WINAPI* LocalAlloc)(UINT flags, SIZE_T bytes);
    HLOCAL(WINAPI* LocalFree)(HLOCAL block);
    DWORD(WINAPI* GetLastError)();
    void(WINAPI* SysFreeString)(BSTR text);
    bool (*RunGuarded)(GuardedCall call, void* context, DWORD* fault);
    // What a failed registration or unregistration is undone with.
    const RegistryCalls* registry;
    // Registering for the current user: HKEY_CLASSES_ROOT redirected to the
    // user's own classes key around the registration call.
    LONG(WINAPI* RegCreateKeyExW)
    (HKEY parent, const wchar_t* name, DWORD reserved, wchar_t* keyClass, DWORD options,
     REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* key, DWORD* disposition);
    LONG(WINAPI* RegOverridePredefKey)(HKEY predefined, HKEY replacement);
    LONG(WINAPI* RegCloseKey)(HKEY key);
    // Reading the path registered for an identity, as unregistration will.
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    // Does nothing where the Automation library does not export it.
    void(WINAPI* OaEnablePerUserTLibRegistration)();
};

const RegistrarPlatform& RealRegistrarPlatform();
// Replaces the platform for the registrar; nullptr restores the real one.
void SetRegistrarPlatform(const RegistrarPlatform* platform);

// -1 when the library was loaded and registered, 0 otherwise. Either way the
// registry holds the whole registration or none of it (see RegistryUndo.h).
Flag RegisterLibrary(const std::wstring& path, const std::wstring& helpDir);
// -1 when the library was loaded and its registration removed, 0 otherwise.
Flag UnregisterLibrary(const std::wstring& path);

// Whose registration a call writes or removes: the machine's (through
// HKEY_CLASSES_ROOT) or the current user's (HKCU\Software\Classes only).
enum class Scope { Machine, User };

// Why a call failed, as far as a person or a caller can act on it.
enum class Failure {
    None,
    NoFile,        // no such file (or not a plain file: a folder, a device)
    NotTypeLib,    // the loader found no type library in it
    Damaged,       // refused as damaged: it ends early, its lists run in a circle, or
                   // reading it faulted
    NotRegistered, // nothing of this identity is registered to remove
    NoRights,      // the platform refused the registration call for lack of rights
    Busy,          // another registration holds the turn, or the turn cannot be had
    Platform,      // the platform's registration call failed for another reason
    NotRestored,   // the call failed and what it changed could not all be put back
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

// The registration turn: a mutex every Vandrel process of the machine shares,
// whatever its session and integrity level.
inline constexpr wchar_t kRegistrationTurnName[] = L"Global\\Vandrel.TypeLibRegistration";

// RegisterLibrary and UnregisterLibrary in the given scope, with the cause.
RegistrarResult RegisterLibraryIn(const std::wstring& path, const std::wstring& helpDir,
                                  Scope scope);
RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope);

// The full path the loader may see: an existing regular file, or such a file
// followed by a resource index ("x.dll\2"), whose type library does not end
// early (see TypeLibHeader.h). Anything else gives nothing.
std::optional<std::wstring> ResolveLoadablePath(const std::wstring& path);

} // namespace vandrel
