// When the file a registration names counts as gone: only where its volume
// answers and the file, or a folder on its way, is not found. A refused
// access, a drive that is not ready and a share that does not answer are
// driven through the file probe: under Wine nothing is refused.
#include "registrar/host/LoadablePath.h"
#include "registrar/ModVandrel.h"
#include "registrar/RegistrarPlatform.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/TypeLibRegistrations.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vandrel {
namespace {

// Names the fake probe answers for itself: with an error, or (0) as a folder.
std::vector<std::pair<std::wstring, DWORD>> g_answers;

DWORD WINAPI ProbeWithAnswers(const wchar_t* path) {
    for (const auto& [name, error] : g_answers)
        if (name == path) {
            ::SetLastError(error);
            return error ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_DIRECTORY;
        }
    return FileProbeSeam().real().GetFileAttributesW(path);
}
const FileProbe kAnswering = {ProbeWithAnswers};

TEST(RegisteredFileState, GoneOnlyWhereTheVolumeAnswersAndTheNameIsNotFound) {
    const test::TempFolder folder;
    const std::wstring file = folder.Write(L"there.tlb", "not looked into");
    const std::wstring missing = folder.path() + L"\\missing.tlb";
    const std::wstring root = folder.path().substr(0, 3);
    const std::wstring share = L"\\\\host\\share\\";
    const struct {
        const wchar_t* what;
        std::wstring path;
        std::vector<std::pair<std::wstring, DWORD>> answers;
        FileState state;
    } cases[] = {
        {L"a plain file", file, {}, FileState::There},
        {L"a resource of a plain file", file + L"\\2", {}, FileState::There},
        {L"a missing file", missing, {}, FileState::Gone},
        {L"a missing folder on the way", folder.path() + L"\\no\\x.tlb", {}, FileState::Gone},
        {L"a missing module's resource", folder.path() + L"\\no.dll\\2", {}, FileState::Gone},
        {L"the long form", L"\\\\?\\" + missing, {}, FileState::Gone},
        {L"a folder", folder.path(), {}, FileState::Unreachable},
        {L"a device", L"\\\\.\\NUL", {}, FileState::Unreachable},
        {L"no path", L"", {}, FileState::Unreachable},
        {L"a refused file", file, {{file, ERROR_ACCESS_DENIED}}, FileState::Unreachable},
        {L"a refused missing file",
         missing,
         {{missing, ERROR_ACCESS_DENIED}},
         FileState::Unreachable},
        {L"a drive not ready", missing, {{root, ERROR_NOT_READY}}, FileState::Unreachable},
        {L"a drive not there", missing, {{root, ERROR_PATH_NOT_FOUND}}, FileState::Unreachable},
        {L"on a share that answers",
         share + L"x.tlb",
         {{share + L"x.tlb", ERROR_FILE_NOT_FOUND}, {share, 0}},
         FileState::Gone},
        {L"on a share that does not",
         share + L"x.tlb",
         {{share + L"x.tlb", ERROR_PATH_NOT_FOUND}, {share, ERROR_BAD_NETPATH}},
         FileState::Unreachable},
    };
    for (const auto& c : cases) {
        g_answers = c.answers;
        const test::ScopedSeam<FileProbe> probe(FileProbeSeam(), kAnswering);
        EXPECT_EQ(RegisteredFileState(c.path), c.state) << c.what;
    }
}

// A registration of the user's whose file is refused is listed, unreachable,
// and removal by identity leaves it, saying why; once the file is plainly
// gone the same call removes it.
TEST(RegisteredFileState, ARefusedFilesRegistrationIsNeverRemovedByIdentity) {
    const test::TempFolder folder;
    const std::wstring path = folder.path() + L"\\refused.tlb";
    const LibraryId id{
        {0x6a1c0b7e, 0x3d52, 0x4f08, {0x9e, 0x41, 0x8c, 0x2d, 0x7b, 0x5a, 0x9f, 0x21}},
        1,
        0,
        0,
        SYS_WIN32};
    const std::wstring library = L"Software\\Classes\\" + TypeLibKeyName(id.guid);
    const std::wstring leaf = library + L"\\1.0\\0\\win32";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, leaf.c_str(), nullptr, REG_SZ, path.c_str(),
                                static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const auto stateNow = [&] {
        const auto found = Registrations(*RegistrarSeam(), id.guid, 1, 0);
        return found.size() == 1 ? found[0].file : FileState::There;
    };
    {
        g_answers = {{path, ERROR_ACCESS_DENIED}};
        const test::ScopedSeam<FileProbe> probe(FileProbeSeam(), kAnswering);
        EXPECT_EQ(stateNow(), FileState::Unreachable);
        const RegistrarResult result = UnregisterIdentityIn(id, Scope::User);
        EXPECT_EQ(result.flag, kFalse);
        EXPECT_EQ(result.failure, Failure::NoFile);
        EXPECT_EQ(result.status, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(test::RegistryKeyExists(HKEY_CURRENT_USER, leaf));
    }
    EXPECT_EQ(stateNow(), FileState::Gone);
    EXPECT_EQ(UnregisterIdentityIn(id, Scope::User).flag, kTrue);
    EXPECT_FALSE(test::RegistryKeyExists(HKEY_CURRENT_USER, library));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, library.c_str());
}

} // namespace
} // namespace vandrel
