#include "registrar/host/LoadablePath.h"

#include "common/Owned.h"
#include "registrar/host/LibraryShape.h"

#include <utility>

namespace vandrel {
namespace {

bool IsRegularFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
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

constexpr HRESULT kNoSuchFile = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Why a name is no file: it is not there (the file or a folder on its way),
// it is there as something else, or it could not be looked at.
Resolved NoFile(const std::wstring& file) {
    if (::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
        return {Failure::NoFile, kNoPlainFile, {}};
    const DWORD error = ::GetLastError();
    return {Failure::NoFile, error ? HRESULT_FROM_WIN32(error) : kNoSuchFile, {}};
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

bool LoadableFileExists(const std::wstring& path) {
    const auto full = FullPath(path);
    if (!full || path.find(L'\0') != std::wstring::npos) return false;
    if (IsRegularFile(*full)) return true;
    const auto slash = full->find_last_of(L'\\');
    return slash != std::wstring::npos && slash != 0 && ResourceIndex(full->substr(slash + 1)) &&
           IsRegularFile(full->substr(0, slash));
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto plain = [](const std::wstring& path) {
        return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
    };
    return ::CompareStringOrdinal(plain(a).c_str(), -1, plain(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace vandrel
