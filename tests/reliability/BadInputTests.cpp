// A corpus of bad input, generated here, through Vandrel.exe in command mode:
// every failure ends with status 1 (a crash would end with its exception
// code) and leaves the TypeLib and Interface trees byte for byte unchanged.
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include "registrar/LoadablePath.h"
#include "registrar/TypeLibHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

// A library's bytes and the places in them the cases below damage, found by
// the MSFT layout: the header, the type-info offsets, then a directory of 15
// segments (the fixtures have no help DLL word).
struct Library {
    explicit Library(const wchar_t* fixture) : bytes(ReadBytes(Fixture(fixture))) {}
    int32_t Int(size_t at) const {
        int32_t value;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    }
    void Set(size_t at, int32_t value) { std::memcpy(bytes.data() + at, &value, sizeof value); }
    size_t Directory() const { return 0x54 + 4 * static_cast<size_t>(Int(0x20)); }
    int32_t Segment(int n) const { return Int(Directory() + 16 * n); }
    // The first function or variable record of type info `type`.
    size_t Members(int type) const {
        return static_cast<size_t>(Int(Segment(0) + 0x64 * type + 4)) + 4;
    }
    // The custom-data entry (an offset in segment 12) of Custom.idl's value
    // 6a1c1e2e-...-1f0e9d2a7cf<tag>: 0 the library, 1 the type, 2 the
    // variable, 3 the function, 4 its parameter, 5 its parameter with a
    // default value.
    int32_t Entry(int tag) const {
        const GUID guid = {
            0x6a1c1e2e,
            0x0b7d,
            0x4e0a,
            {0x9c, 0x53, 0x1f, 0x0e, 0x9d, 0x2a, 0x7c, static_cast<BYTE>(0xF0 + tag)}};
        const size_t found = bytes.find(std::string(reinterpret_cast<const char*>(&guid), 16));
        const int32_t named = static_cast<int32_t>(found) - Segment(5);
        for (int32_t at = 0; found != std::string::npos && at < Int(Directory() + 16 * 12 + 4);
             at += 12)
            if (Int(Segment(12) + at) == named) return at;
        throw std::runtime_error("no such custom value in the library");
    }
    // A copy of `entry` after the end of the file, linked to `next`, or to
    // itself when `next` is omitted; its offset in segment 12.
    int32_t Append(int32_t entry, int32_t next = 0) {
        const auto at = static_cast<int32_t>(bytes.size()) - Segment(12);
        bytes += bytes.substr(Segment(12) + entry, 12);
        Set(bytes.size() - 4, next ? next : at);
        return at;
    }
    bool Whole() const {
        return TypeLibImageIsWhole(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    }
    std::string bytes;
};

// A library of `types` enumerations that all read one block of `values`
// constants: the loader reads that block once for each.
std::string SharedMembers(uint32_t types, uint32_t values) {
    const uint32_t directory = 0x54 + 4 * types, typeInfos = directory + 15 * 16;
    const uint32_t block = typeInfos + 0x64 * types;
    std::string bytes(block + 4 + values * (0x14 + 12), '\0');
    auto set = [&](size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); };
    std::memcpy(bytes.data(), "MSFT", 4);
    set(0x04, 0x00010002);
    set(0x20, types);
    set(0x40, 0xFFFFFFFF); // no custom data
    for (uint32_t n = 0; n < 15; ++n)
        set(directory + 16 * n, 0xFFFFFFFF);
    set(directory, typeInfos);
    set(directory + 4, 0x64 * types);
    for (uint32_t i = 0; i < types; ++i) {
        set(0x54 + 4 * i, 0x64 * i);
        set(typeInfos + 0x64 * i + 0x04, block);
        set(typeInfos + 0x64 * i + 0x18, values << 16);
        set(typeInfos + 0x64 * i + 0x48, 0xFFFFFFFF);
    }
    set(block, 0x14 * values);
    for (uint32_t v = 0; v < values; ++v) {
        set(block + 4 + 0x14 * v, 0x14);
        set(block + 4 + 0x14 * v + 0x0C, 2);              // a constant
        set(block + 4 + 0x14 * v + 0x10, 0x8C000000 | v); // its value, in place
    }
    return bytes;
}

// Damage to Custom.tlb (type 0 its enumeration, 1 its interface, 2 its
// coclass): what the loader cannot survive must be refused, and what it can
// must not be. Some damage makes the loader follow a list for
// ever, allocating at every link: no guard can stop that.
struct Damage {
    const char* what;
    void (*apply)(Library&);
    bool whole;
    bool runsAway;
};
void CircleAt(Library& l, int tag) {
    const int32_t entry = l.Entry(tag);
    l.Set(l.Segment(12) + entry + 8, entry);
}
const Damage kDamage[] = {
    {"nothing", [](Library&) {}, true, false},
    {"type-info count past the file", [](Library& l) { l.Set(0x20, 0x7FFFFFFF); }, false, false},
    {"type-info count -1", [](Library& l) { l.Set(0x20, -1); }, false, false},
    {"type-info segment past the file",
     [](Library& l) { l.Set(l.Directory(), static_cast<int32_t>(l.bytes.size())); }, false, false},
    {"type-info segment of length -2", [](Library& l) { l.Set(l.Directory() + 4, -2); }, false,
     false},
    {"a type info far beyond its segment", [](Library& l) { l.Set(0x54 + 4, 0x7FFFFF00); }, false,
     false},
    {"the library's custom data in a circle", [](Library& l) { CircleAt(l, 0); }, false, true},
    {"a type's custom data in a circle", [](Library& l) { CircleAt(l, 1); }, false, true},
    {"a variable's custom data in a circle", [](Library& l) { CircleAt(l, 2); }, false, true},
    {"a function's custom data in a circle", [](Library& l) { CircleAt(l, 3); }, false, true},
    {"a parameter's custom data in a circle", [](Library& l) { CircleAt(l, 4); }, false, true},
    {"a defaulted parameter's custom data in a circle", [](Library& l) { CircleAt(l, 5); }, false,
     true},
    {"an implemented interface's custom data in a circle",
     [](Library& l) { l.Set(l.Segment(3) + 8, l.Append(l.Entry(2))); }, false, true},
    {"custom data that leaves its segment and circles beyond it",
     [](Library& l) { l.Set(l.Segment(12) + l.Entry(3) + 8, l.Append(l.Entry(3))); }, false, true},
    {"custom data that leaves its segment and ends beyond it",
     [](Library& l) { l.Set(l.Segment(12) + l.Entry(3) + 8, l.Append(l.Entry(3), -1)); }, true,
     false},
    {"a custom value that runs past the end of the file",
     [](Library& l) { l.Set(l.Segment(11) + l.Int(l.Segment(12) + l.Entry(0) + 4) + 2, 1 << 30); },
     false, false},
    {"a function record shorter than its fixed fields",
     [](Library& l) { l.Set(l.Members(1), 0x10); }, false, false},
    // The loader reads as many implemented interfaces as the coclass says,
    // wherever their links lead.
    {"implemented interfaces in a circle", [](Library& l) { l.Set(l.Segment(3) + 12, 0); }, true,
     false},
    // Wine's loader takes a variable record's size from its lowest byte.
    {"a variable record's size above its lowest byte",
     [](Library& l) { l.Set(l.Members(0), l.Int(l.Members(0)) + 0x100); }, true, false},
    {"two types reading one block of constants",
     [](Library& l) { l.bytes = SharedMembers(2, 1000); }, true, false},
    {"20,000 types reading one block of 1,000 constants",
     [](Library& l) { l.bytes = SharedMembers(20000, 1000); }, false, false},
};

class BadInput : public ::testing::Test {
protected:
    // A registry snapshot costs seconds under Wine, so each test compares the trees
    // once, at its end: a failure that wrote or removed anything shows there.
    void SetUp() override { before = RegistrySnapshot(); }
    void TearDown() override { EXPECT_TRUE(SameRegistry(before, RegistrySnapshot())); }
    // One command that must fail with status 1 (a crash ends with its
    // exception code instead).
    void Fails(const std::wstring& arguments, const char* what) {
        EXPECT_EQ(test::Run(VandrelExe(), arguments), 1u) << what;
    }
    // A library that must register, under its full path, and unregister.
    void RoundTrip(const std::wstring& quotedPath, const std::wstring& file, const char* what) {
        const LibIdentity id = IdentityOf(file);
        EXPECT_EQ(test::Run(VandrelExe(), quotedPath + L" /s"), 0u) << what;
        EXPECT_EQ(RegisteredPath(id), file) << what;
        EXPECT_EQ(test::Run(VandrelExe(), quotedPath + L" /u /s"), 0u) << what;
        EXPECT_EQ(RegisteredPath(id), L"") << what;
    }
    std::wstring before;
    TempFolder folder;
};

TEST_F(BadInput, FilesThatAreNoTypeLibraryFailAndChangeNothing) {
    std::mt19937 random(20240607);
    std::string noise(4096, '\0');
    for (auto& byte : noise)
        byte = static_cast<char>(random() & 0xFF);
    Fails(folder.path() + L"\\missing.tlb /s", "missing file");
    Fails(folder.Write(L"empty.tlb", "") + L" /s", "empty file");
    Fails(folder.Write(L"text.tlb", "[library]\r\nnot a type library\r\n") + L" /s", "text");
    Fails(folder.Write(L"noise.tlb", noise) + L" /s", "random bytes");
    Fails(folder.Copy(VandrelExe(), L"NoLib.dll") + L" /s", "module without a library");
    Fails(Fixture(L"Embedded.dll") + L"\\9 /s", "resource index that does not exist");
    Fails(folder.path() + L" /s", "folder");
    Fails(L"NUL /s", "NUL");
    Fails(L"CON /s", "CON");
    Fails(L"\\\\.\\NUL /s", "\\\\.\\NUL");
    Fails(folder.path() + L"\\" + std::wstring(300 - folder.path().size(), L'm') + L".tlb /s",
          "300 characters, missing");
    Fails(std::wstring(32000, L'a') + L" /s", "32,000 characters");
}

// The structural check's cases: the loader would stop the process on a
// library that ends early (the guard would take that too), and follow a
// list that runs away for ever, which no guard can stop. Each is refused
// before the loader sees it, and the command fails in bounded time.
TEST_F(BadInput, LibrariesThatEndEarlyOrRunAwayAreRefusedBeforeTheLoaderSeesThem) {
    constexpr DWORD kBound = 10000; // a refused run ends in well under a second
    auto refused = [&](const std::wstring& path, const std::string& what) {
        EXPECT_FALSE(ResolveLoadablePath(path)) << what;
        EXPECT_EQ(test::Run(VandrelExe(), L"\"" + path + L"\" /s", kBound), 1u) << what;
    };
    const std::string whole = ReadBytes(Fixture(L"Alpha.tlb"));
    refused(folder.Write(L"msft8.tlb", std::string("MSFT\0\0\0\0", 8)), "MSFT + 4 zeros");
    for (size_t length : {size_t{4}, size_t{84}, size_t{300}, whole.size() / 2, whole.size() - 1}) {
        const std::wstring name = L"cut" + std::to_wstring(length) + L".tlb";
        const std::string what = "cut at " + std::to_string(length);
        refused(folder.Write(name, whole.substr(0, length)), what);
        Fails(folder.path() + L"\\" + name + L" /u /s", what.c_str());
    }
    // A module cut inside its second library: the resource table still
    // claims all of it (and past the file's end the mapping reads zeros).
    const std::string dll = ReadBytes(Fixture(L"Embedded.dll"));
    const std::string second = ReadBytes(Fixture(L"Gamma.tlb"));
    const size_t at = dll.find(second);
    ASSERT_NE(at, std::string::npos) << "Gamma.tlb is not inside Embedded.dll";
    for (size_t length : {at + 4, at + second.size() / 2})
        refused(folder.Write(L"cut.dll", dll.substr(0, length)) + L"\\2",
                "module cut at " + std::to_string(length));
    int written = 0;
    for (const Damage& damage : kDamage) {
        if (!damage.runsAway) continue;
        Library library(L"Custom.tlb");
        damage.apply(library);
        refused(folder.Write(L"away" + std::to_wstring(++written) + L".tlb", library.bytes),
                damage.what);
    }
}

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

TEST_F(BadInput, UnusualButValidPathsRegisterAndOverlongOnesFailCleanly) {
    const std::wstring chinese =
        folder.Copy(Fixture(L"Beta.tlb"), L"\u7C7B\u578B\u5E93\\\u6D4B\u8BD5.tlb"); // 类型库\测试
    RoundTrip(chinese, chinese, "Chinese characters");
    const std::wstring spaced = folder.Copy(Fixture(L"Gamma.tlb"), L"with space\\Gamma lib.tlb");
    RoundTrip(L"\"" + spaced + L"\"", spaced, "spaces, quoted");
    // The platform drops trailing spaces from a file name, so the file is found.
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    RoundTrip(L"\"" + alpha + L" \"", alpha, "trailing space");

    // 300 characters to an existing library: Wine's loader refuses any path
    // longer than MAX_PATH (cleanly, unlike a missing one, which never
    // reaches it), so the command fails and changes nothing.
    std::wstring deep = folder.path();
    while (deep.size() < 250) {
        deep += L"\\" + std::wstring(40, L'd');
        ::CreateDirectoryW(deep.c_str(), nullptr);
    }
    const std::wstring longPath = deep + L"\\" + std::wstring(294 - deep.size(), L'n') + L".tlb";
    ASSERT_EQ(longPath.size(), 299u);
    ASSERT_TRUE(::CopyFileW(Fixture(L"Sample.tlb").c_str(), longPath.c_str(), FALSE));
    Fails(longPath + L" /s", "300 characters, existing");
    Fails(longPath + L" /u /s", "300 characters, existing, unregister");
}

TEST_F(BadInput, ALockedFileFailsAndAReadOnlyFileRegisters) {
    const std::wstring locked = folder.Copy(Fixture(L"Alpha.tlb"), L"Locked.tlb");
    {
        OwnedFile lock(::CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        Fails(locked + L" /s", "locked exclusively");
        Fails(locked + L" /u /s", "locked exclusively, unregister");
    }
    const std::wstring readOnly = folder.Copy(Fixture(L"Gamma.tlb"), L"ReadOnly.tlb");
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    RoundTrip(readOnly, readOnly, "read-only");
}

} // namespace
} // namespace vandrel::test
