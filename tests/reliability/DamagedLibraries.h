// Deterministically damaged copies of real type libraries: Wine's own
// stdole2.tlb, activeds.tlb and scrrun.dll (its embedded library) of the
// bitness under test, and a widl fixture. A case is a recipe (base, kind of
// damage, seed), so any case can be made again from its name.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <string>

namespace vandrel::test {

enum class Damage { BitFlips, Word, Duplicate, Delete, Truncate, Sltg };
inline constexpr int kDamageKinds = 6;
const char* DamageName(Damage kind);

// Bases by name: "stdole2", "activeds", "scrrun" (Wine's, of the bitness of
// the Vandrel.exe under test, or "stdole2@x86"/"stdole2@x64" for one
// bitness in particular) and "widl" (the Alpha fixture).
struct Recipe {
    const char* base;
    Damage kind;
    std::uint32_t seed;
};
std::string RecipeName(const Recipe& recipe);

// The damaged bytes. Every base first gets identities of its own (its
// library and type GUIDs altered), so a copy that still registers never
// touches the prefix's real registrations; scrrun.dll is damaged only inside
// its type library resource. Sltg ignores the base: "SLTG" and noise.
std::string DamagedLibrary(const Recipe& recipe);
// The file name extension a case needs (".dll" for scrrun).
const wchar_t* ExtensionOf(const Recipe& recipe);

// Whether the Vandrel.exe under test is the 64-bit build.
bool VandrelIs64Bit();

// Cases that stopped Vandrel (access violation or breakpoint), or made its
// load run away, before it loaded libraries inside a guard.
extern const Recipe kCrashedBefore[];
extern const int kCrashedBeforeCount;

} // namespace vandrel::test
