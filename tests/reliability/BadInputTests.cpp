// A corpus of bad input, generated here, through Vandrel.exe in command mode:
// every failure ends with status 1 (a crash would end with its exception
// code) and leaves the TypeLib and Interface trees byte for byte unchanged.
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include "registrar/TypeLibHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

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

TEST_F(BadInput, TruncatedLibrariesAreRefusedBeforeTheLoaderSeesThem) {
    const std::string whole = ReadBytes(Fixture(L"Alpha.tlb"));
    Fails(folder.Write(L"msft8.tlb", std::string("MSFT\0\0\0\0", 8)) + L" /s", "MSFT + 4 zeros");
    for (size_t length : {size_t{4}, size_t{84}, size_t{300}, whole.size() / 2, whole.size() - 1}) {
        const std::wstring name = L"cut" + std::to_wstring(length) + L".tlb";
        const std::string what = "cut at " + std::to_string(length);
        Fails(folder.Write(name, whole.substr(0, length)) + L" /s", what.c_str());
        Fails(folder.path() + L"\\" + name + L" /u /s", what.c_str());
    }
    // A module cut inside its second library: the resource table still
    // claims all of it.
    const std::string dll = ReadBytes(Fixture(L"Embedded.dll"));
    const std::string second = ReadBytes(Fixture(L"Gamma.tlb"));
    const size_t at = dll.find(second);
    ASSERT_NE(at, std::string::npos) << "Gamma.tlb is not inside Embedded.dll";
    for (size_t length : {at + 4, at + second.size() / 2}) {
        const std::string what = "module cut at " + std::to_string(length);
        Fails(folder.Write(L"cut.dll", dll.substr(0, length)) + L"\\2 /s", what.c_str());
    }
}

TEST(TypeLibHeader, EveryTruncationOfEveryFixtureIsRefusedAndTheWholeFileAccepted) {
    for (const wchar_t* name :
         {L"Alpha.tlb", L"AlphaV2.tlb", L"Beta.tlb", L"Gamma.tlb", L"Sample.tlb"}) {
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

TEST(TypeLibHeader, DirectoriesThatPointOutsideTheFileAreRefused) {
    std::string bytes = ReadBytes(Fixture(L"Alpha.tlb"));
    auto whole = [&] {
        return TypeLibImageIsWhole(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    };
    ASSERT_TRUE(whole());
    const std::string original = bytes;
    auto poke = [&](size_t at, int32_t value) {
        bytes = original;
        std::memcpy(bytes.data() + at, &value, sizeof value);
    };
    poke(0x20, 0x7FFFFFFF); // type-info count
    EXPECT_FALSE(whole());
    poke(0x20, -1);
    EXPECT_FALSE(whole());
    const size_t directory = 0x54 + 4 * 3;               // Alpha has three type infos
    poke(directory, static_cast<int32_t>(bytes.size())); // type-info segment offset
    EXPECT_FALSE(whole());
    poke(directory + 4, -2); // its length
    EXPECT_FALSE(whole());
    poke(0x54 + 4, 0x7FFFFF00); // a type info far beyond its segment
    EXPECT_FALSE(whole());
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
