#include "registrar/host/LibraryShape.h"

#include "common/Owned.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace vandrel {
namespace {

// The MSFT layout: a fixed header, a help DLL's offset where a flag says so,
// one offset per type info, then the directory of 15 segments (offset,
// length and two reserved words each).
constexpr int64_t kHeaderBytes = 0x54;
constexpr int64_t kFlagsAt = 0x14;
constexpr uint32_t kHelpDllFlag = 0x100;
constexpr int64_t kTypeInfoCountAt = 0x20;
constexpr int64_t kSegments = 15;
constexpr int64_t kSegmentBytes = 16;
// Enough of the file for a directory after 64 Ki type infos; a library with
// more is read whole.
constexpr DWORD kLeadingBytes = kHeaderBytes + 4 + 4 * 0x10000 + kSegments * kSegmentBytes;

int32_t Int(const BYTE* image, int64_t at) {
    int32_t value;
    std::memcpy(&value, image + at, sizeof value);
    return value;
}

// Only the directory is read, so only as much of the image is needed as
// reaches its end; `size` is the whole file's.
bool EndsEarly(const BYTE* image, size_t available, int64_t size) {
    if (available < 4 || std::memcmp(image, "MSFT", 4) != 0) return false;
    if (size < kHeaderBytes) return true;
    int64_t directory = kHeaderBytes;
    if (static_cast<uint32_t>(Int(image, kFlagsAt)) & kHelpDllFlag) directory += 4;
    const int32_t types = Int(image, kTypeInfoCountAt);
    if (types < 0) return true;
    directory += 4 * int64_t{types};
    const int64_t end = directory + kSegments * kSegmentBytes;
    if (end > size) return true;
    if (end > static_cast<int64_t>(available)) return false;
    for (int64_t n = 0; n < kSegments; ++n) {
        const int64_t offset = Int(image, directory + n * kSegmentBytes);
        const int64_t length = Int(image, directory + n * kSegmentBytes + 4);
        if (offset == -1) continue;
        if (offset < 0 || offset > size) return true;
        if (length > 0 && offset + length > size) return true;
    }
    return false;
}

} // namespace

bool ImageEndsEarly(const BYTE* image, size_t size) {
    return EndsEarly(image, size, static_cast<int64_t>(size));
}

bool FileEndsEarly(const std::wstring& file) {
    const OwnedFile opened(::CreateFileW(file.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!opened || !::GetFileSizeEx(opened.get(), &size)) return false;
    std::vector<BYTE> leading(
        static_cast<size_t>(std::min<LONGLONG>(size.QuadPart, kLeadingBytes)));
    DWORD read = 0;
    if (!::ReadFile(opened.get(), leading.data(), static_cast<DWORD>(leading.size()), &read,
                    nullptr))
        return false;
    return EndsEarly(leading.data(), read, size.QuadPart);
}

} // namespace vandrel
