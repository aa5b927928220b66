// The check that calls a library file damaged without a worker: every
// truncation of the fixtures ends early, and no library Wine ships does.
#include "registrar/host/LibraryShape.h"
#include "registrar/host/LoadablePath.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

// A cut in the header, the directory or a segment ends early; the member
// records after the segments are the worker's to read.
TEST(LibraryShape, FixturesCutInTheirHeaderDirectoryOrSegmentsEndEarly) {
    for (const wchar_t* name :
         {L"Alpha.tlb", L"AlphaV2.tlb", L"Beta.tlb", L"Gamma.tlb", L"Sample.tlb", L"Custom.tlb"}) {
        const std::string bytes = ReadBytes(Fixture(name));
        const auto* image = reinterpret_cast<const BYTE*>(bytes.data());
        EXPECT_FALSE(ImageEndsEarly(image, bytes.size()));
        for (size_t length : {size_t{4}, size_t{0x53}, size_t{0x54}, size_t{0x120}, size_t{0x200},
                              bytes.size() / 2})
            EXPECT_TRUE(ImageEndsEarly(image, length)) << length << " of " << bytes.size();
        // Shorter than the signature, or another layout: the loader says
        // what those are.
        EXPECT_FALSE(ImageEndsEarly(image, 3));
        EXPECT_FALSE(ImageEndsEarly(reinterpret_cast<const BYTE*>("MZ\0\0"), 4));
    }
}

TEST(LibraryShape, EveryLibraryWineShipsReachesTheWorker) {
    const std::vector<std::wstring> libraries = TypeLibrariesIn(WineLibraryFolder());
    ASSERT_FALSE(libraries.empty());
    for (const std::wstring& library : libraries)
        EXPECT_EQ(Resolve(library).failure, Failure::None)
            << std::string(library.begin(), library.end());
    std::printf("%u libraries\n", static_cast<unsigned>(libraries.size()));
}

} // namespace
} // namespace vandrel::test
