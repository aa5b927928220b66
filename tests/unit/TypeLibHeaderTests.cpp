// The structural check of a type library image, on every truncation of
// the fixtures, on each kind of damage the loader would not survive, and on
// every library Wine ships.
#include "registrar/LoadablePath.h"
#include "support/LibraryDamage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

TEST(TypeLibHeader, EveryTruncationOfEveryFixtureIsRefusedAndTheWholeFileAccepted) {
    for (const wchar_t* name :
         {L"Alpha.tlb", L"AlphaV2.tlb", L"Beta.tlb", L"Gamma.tlb", L"Sample.tlb", L"Custom.tlb"}) {
        const std::string bytes = ReadBytes(Fixture(name));
        const auto* image = reinterpret_cast<const BYTE*>(bytes.data());
        EXPECT_TRUE(TypeLibImageIsWhole(image, bytes.size()));
        size_t accepted = 0;
        for (size_t length = 4; length < bytes.size(); ++length)
            accepted += TypeLibImageIsWhole(image, length);
        EXPECT_EQ(accepted, 0u) << "truncations of " << bytes.size() << "-byte library accepted";
        // Shorter than the signature, or another layout: the loader refuses
        // those by itself.
        EXPECT_TRUE(TypeLibImageIsWhole(image, 3));
        EXPECT_TRUE(TypeLibImageIsWhole(reinterpret_cast<const BYTE*>("MZ\0\0"), 4));
    }
}

TEST(TypeLibHeader, WhatTheLoaderCannotSurviveIsRefusedAndNothingElse) {
    for (const Damage& damage : kDamage) {
        Library library(L"Custom.tlb");
        damage.apply(library);
        EXPECT_EQ(library.Whole(), damage.whole) << damage.what;
    }
}

TEST(TypeLibHeader, EveryLibraryWineShipsIsAccepted) {
    const std::vector<std::wstring> libraries = TypeLibrariesIn(WineLibraryFolder());
    ASSERT_FALSE(libraries.empty());
    for (const std::wstring& library : libraries)
        EXPECT_TRUE(ResolveLoadablePath(library)) << std::string(library.begin(), library.end());
    std::printf("%u libraries\n", static_cast<unsigned>(libraries.size()));
}

} // namespace
} // namespace vandrel::test
