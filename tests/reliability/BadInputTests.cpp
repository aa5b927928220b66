// A corpus of bad input, generated here, through Vandrel.exe in command mode:
// every failure ends with status 1 (a crash would end with its exception
// code) and leaves the TypeLib and Interface trees byte for byte unchanged.
#include "driver/Driver.h"
#include "support/HostileLibraries.h"
#include "support/TestSupport.h"

#include "registrar/host/LoadablePath.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

class BadInput : public RegistryTest {
protected:
    // One command that must fail with status 1 (a crash ends with its
    // exception code instead).
    template <class What> void Fails(const std::wstring& arguments, const What& what) {
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
    TempFolder folder;
};

TEST_F(BadInput, FilesThatAreNoTypeLibraryFailAndChangeNothing) {
    std::mt19937 random(20240607);
    std::string noise(4096, '\0');
    for (auto& byte : noise)
        byte = static_cast<char>(random() & 0xFF);
    for (const std::wstring& path : NotFilePaths(folder))
        Fails(L"\"" + path + L"\" /s", path);
    for (const std::wstring& path : NotTypeLibFiles(folder))
        Fails(L"\"" + path + L"\" /s", path);
    Fails(folder.Write(L"noise.tlb", noise) + L" /s", "random bytes");
    Fails(folder.Copy(VandrelExe(), L"NoLib.dll") + L" /s", "module without a library");
    Fails(std::wstring(32000, L'a') + L" /s", "32,000 characters");
}

// A library that ends early is called damaged at once, before any worker
// reads it; one whose load runs away is read in the worker, which ends at
// its memory or time bound. Either way the command fails with status 1 and
// changes nothing.
TEST_F(BadInput, LibrariesThatEndEarlyOrRunAwayFailWithoutHarm) {
    auto damaged = [&](const std::wstring& path, const std::string& what) {
        EXPECT_EQ(Resolve(path).failure, Failure::Damaged) << what;
        Fails(L"\"" + path + L"\" /s", what);
    };
    const std::string whole = ReadBytes(Fixture(L"Alpha.tlb"));
    damaged(folder.Write(L"msft8.tlb", std::string("MSFT\0\0\0\0", 8)), "MSFT + 4 zeros");
    for (size_t length : {size_t{4}, size_t{84}, size_t{300}, whole.size() / 2}) {
        const std::wstring name = L"cut" + std::to_wstring(length) + L".tlb";
        const std::string what = "cut at " + std::to_string(length);
        damaged(folder.Write(name, whole.substr(0, length)), what);
        Fails(folder.path() + L"\\" + name + L" /u /s", what.c_str());
    }
    // A module cut inside its second library: the resource table still
    // claims all of it. The worker reads it.
    const std::string dll = ReadBytes(Fixture(L"Embedded.dll"));
    const std::string second = ReadBytes(Fixture(L"Gamma.tlb"));
    const size_t at = dll.find(second);
    ASSERT_NE(at, std::string::npos) << "Gamma.tlb is not inside Embedded.dll";
    for (size_t length : {at + 4, at + second.size() / 2})
        Fails(folder.Write(L"cut.dll", dll.substr(0, length)) + L"\\2 /s",
              "module cut at " + std::to_string(length));
    Fails(folder.Write(L"away.tlb", RunawayAllocation()) + L" /s", "custom data in a circle");
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
