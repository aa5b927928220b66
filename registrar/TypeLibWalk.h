// Loads a type library and reads every part of it that registration will
// read, all inside the platform's guard, before anything is written.
//
// A damaged library can load and still point at nonsense; the platform then
// reads through it when it registers. Reading it all first, where a fault is
// only a failed load, leaves registration nothing new to trip over: every
// type info, its attributes, functions, variables, names and documentation,
// its implemented types (with the interface half of a dual dispinterface)
// and whatever the type descriptions of its members refer to.
#pragma once

#include "common/Owned.h"
#include "registrar/ModVandrel.h"

#include <vector>

namespace vandrel {

// What a walked library declares: the identity its registration goes under
// (TypeLib\{guid}) and the types it may write Interface\{iid} keys for.
struct TypeLibIdentity {
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    std::vector<IID> interfaces; // every TKIND_INTERFACE and TKIND_DISPATCH
};

// The walk's bounds. Past them a library is refused: its references run in
// a circle (or as good as one), and so would the platform reading them.
inline constexpr UINT kMaxTypeInfos = 0x100000;
inline constexpr int kMaxReferenceDepth = 64; // base interfaces, nested type descriptions

// S_OK with the library and its identity, or the loader's status, or the
// code of the exception that ended the load or the walk (everything obtained
// released again, itself under the guard), or a bound's status. `identity`
// means nothing after a failure.
HRESULT LoadAndWalk(const RegistrarPlatform& platform, const wchar_t* path,
                    ComPtr<ITypeLib>& library, TypeLibIdentity& identity);

} // namespace vandrel
