#include "registrar/host/LoadablePath.h"

#include "common/Owned.h"
#include "registrar/host/LibraryShape.h"

#include <utility>

namespace vandrel {
namespace {

const FileProbe kRealProbe = {::GetFileAttributesW};

bool IsRegularFile(const std::wstring& path) {
    const DWORD attributes = FileProbeSeam()->GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
    // Devices and pipes can pass the attribute test; only a disk file may
    // reach the loader. Asking for attributes alone conflicts with no lock.
    OwnedFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return ::GetFileType(file.get()) == FILE_TYPE_DISK;
}

// "x.dll\N" names the module's TYPELIB resource N: a resource number, 1 to
// 65535. The loader would read a larger one modulo 65536, another library.
std::optional<WORD> ResourceIndex(const std::wstring& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<WORD>(value);
}

bool NotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// The root of the volume a full path lies on: "X:\" or "\\server\share\",
// either perhaps behind "\\?\". Empty for a path on no volume (a device).
std::wstring VolumeRoot(const std::wstring& full) {
    size_t at = 0;
    bool share = false;
    if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        at = 8;
        share = true;
    } else if (full.rfind(L"\\\\?\\", 0) == 0) {
        at = 4;
    } else if (full.rfind(L"\\\\.\\", 0) == 0) {
        return L"";
    } else if (full.rfind(L"\\\\", 0) == 0) {
        at = 2;
        share = true;
    }
    if (!share) {
        const bool drive = full.size() >= at + 3 && IsDriveLetter(full[at]) &&
                           full[at + 1] == L':' && full[at + 2] == L'\\';
        return drive ? full.substr(0, at + 3) : L"";
    }
    const size_t server = full.find(L'\\', at);
    if (server == std::wstring::npos || server == at) return L"";
    const size_t end = full.find(L'\\', server + 1);
    if (end == std::wstring::npos || end == server + 1) return L"";
    return full.substr(0, end + 1);
}

// Why a volume does not answer, or ERROR_SUCCESS where it does. A root
// "not found" means the drive or share itself is not there, which says
// nothing of the file: it is told apart from a missing file.
DWORD VolumeSilence(const std::wstring& full) {
    const std::wstring root = VolumeRoot(full);
    if (root.empty()) return ERROR_BAD_PATHNAME;
    if (FileProbeSeam()->GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (error && !NotFound(error)) return error;
    return root.find(L':') == std::wstring::npos ? ERROR_BAD_NETPATH : ERROR_INVALID_DRIVE;
}

// Why a name is no file: it is not there (the file or a folder on its way,
// on a volume that answers), it is there as something else, or it could
// not be looked at.
Resolved NoFile(const std::wstring& file) {
    if (FileProbeSeam()->GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
        return {Failure::NoFile, kNoPlainFile, {}};
    const DWORD error = ::GetLastError();
    if (!NotFound(error))
        return {Failure::NoFile, HRESULT_FROM_WIN32(error ? error : ERROR_GEN_FAILURE), {}};
    if (const DWORD silence = VolumeSilence(file); silence != ERROR_SUCCESS)
        return {Failure::NoFile, HRESULT_FROM_WIN32(silence), {}};
    return {Failure::NoFile, HRESULT_FROM_WIN32(error), {}};
}

} // namespace

std::optional<std::wstring> FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::nullopt;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

Resolved Resolve(const std::wstring& path) {
    // An embedded NUL would make the platform see a different name.
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return {Failure::NoFile, HRESULT_FROM_WIN32(ERROR_INVALID_NAME), {}};
    auto full = FullPath(path);
    if (!full) return {Failure::NoFile, HRESULT_FROM_WIN32(ERROR_INVALID_NAME), {}};
    std::wstring file = *full;
    std::optional<WORD> named;
    if (!IsRegularFile(file)) {
        const auto slash = full->find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0) return NoFile(file);
        named = ResourceIndex(full->substr(slash + 1));
        if (!named) return NoFile(file);
        file.resize(slash);
        if (!IsRegularFile(file)) return NoFile(*full);
    }
    if (!named && FileEndsEarly(file)) return {Failure::Damaged, TYPE_E_INVDATAREAD, {}};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    const unsigned long long bytes =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return {Failure::None, S_OK, std::move(*full), bytes};
}

std::wstring ResourceSuffix(const Resolved& resolved) {
    const size_t slash = resolved.path.find_last_of(L'\\');
    if (resolved.failure != Failure::None || slash == std::wstring::npos ||
        IsRegularFile(resolved.path) || !ResourceIndex(resolved.path.substr(slash + 1)))
        return L"";
    return resolved.path.substr(slash);
}

FileState RegisteredFileState(const std::wstring& path) {
    const Resolved resolved = Resolve(path);
    if (resolved.failure != Failure::NoFile) return FileState::There;
    return Gone(resolved) ? FileState::Gone : FileState::Unreachable;
}

Seam<FileProbe>& FileProbeSeam() {
    static Seam<FileProbe> seam(kRealProbe);
    return seam;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto plain = [](const std::wstring& path) {
        return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
    };
    return ::CompareStringOrdinal(plain(a).c_str(), -1, plain(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace vandrel
